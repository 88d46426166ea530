// Small helpers shared by the download cases.
#pragma once
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

#include <string>

#include "agent/update/downloader.h"
#include "tests/win/common/file_helpers.h"

inline DWORD MsSince(DWORD start) {
    return GetTickCount() - start;
}

// Polls `done` every millisecond; returns the milliseconds it took, or `limitMs` + 1.
template <typename Pred> DWORD WaitUntil(Pred done, DWORD limitMs) {
    DWORD start = GetTickCount();
    while (!done()) {
        if (MsSince(start) > limitMs) return limitMs + 1;
        Sleep(1);
    }
    return MsSince(start);
}

inline std::string ResponseText(const Downloader& d) {
    return d.Response().CStr() ? std::string(d.Response().CStr()) : std::string();
}

inline std::string FileText(const std::string& path) {
    Bytes bytes;
    ReadBytes(path, &bytes);
    return std::string(bytes.begin(), bytes.end());
}
