// Small helpers shared by the download cases.
#pragma once
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

#include <string>

#include "agent/update/downloader.h"

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

inline std::string ReadWholeFile(const std::string& path) {
    std::string bytes;
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return bytes;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, f)) > 0)
        bytes.append(buffer, n);
    fclose(f);
    return bytes;
}

inline bool WriteWholeFile(const std::string& path, const std::string& bytes) {
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return fclose(f) == 0 && ok;
}

inline bool FileExists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// A fresh folder under the temporary folder, removed with its files.
class TempFolder {
  public:
    TempFolder() {
        char base[MAX_PATH];
        GetTempPathA(sizeof base, base);
        char name[MAX_PATH];
        snprintf(name, sizeof name, "%szlvdl%lu-%lu", base, GetCurrentProcessId(),
                 static_cast<unsigned long>(++counter));
        path = name;
        CreateDirectoryA(path.c_str(), nullptr);
    }
    ~TempFolder() {
        WIN32_FIND_DATAA found;
        HANDLE find = FindFirstFileA((path + "\\*").c_str(), &found);
        if (find != INVALID_HANDLE_VALUE) {
            do {
                if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                    DeleteFileA((path + "\\" + found.cFileName).c_str());
            } while (FindNextFileA(find, &found));
            FindClose(find);
        }
        RemoveDirectoryA(path.c_str());
    }
    std::string File(const char* name) const { return path + "\\" + name; }
    std::string path;

  private:
    static inline unsigned counter = 0;
};
