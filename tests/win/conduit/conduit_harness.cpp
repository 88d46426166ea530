#include "tests/win/conduit/conduit_harness.h"

#include <stdio.h>
#include <string.h>

namespace {
// Without a window manager under Xvfb, Wine holds each closing dialog about 2 s unless this
// program's windows are unmanaged.
struct UnmanagedWindows {
    UnmanagedWindows() {
        HKEY key;
        if (RegCreateKeyExA(HKEY_CURRENT_USER,
                            "Software\\Wine\\AppDefaults\\conduit_tests.exe\\X11 Driver", 0,
                            nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS)
            return;
        RegSetValueExA(key, "Managed", 0, REG_SZ, reinterpret_cast<const BYTE*>("N"), 2);
        RegCloseKey(key);
    }
} g_unmanaged;
} // namespace

Bytes RatesBody(size_t length) {
    static const char kLine[] = "USD US Dollar\0"
                                "1.0842\0"
                                "1.0791\0";
    Bytes body = {'0', '0', '0', '0', 0};
    int lines = 0;
    while (body.size() < length) {
        body.insert(body.end(), kLine, kLine + sizeof(kLine) - 1);
        ++lines;
    }
    body.resize(length);
    if (length >= 5) {
        char count[8];
        snprintf(count, sizeof(count), "%04d", lines % 10000);
        memcpy(body.data(), count, 4);
    }
    return body;
}

void SetTarget(const std::string& folder) {
    std::wstring wide = Wide(folder);
    HKEY key = OpenSettingsKey();
    if (!key) return;
    RegSetValueExW(key, L"target", 0, REG_SZ, reinterpret_cast<const BYTE*>(wide.data()),
                   DWORD(wide.size() * sizeof(wchar_t)));
    RegCloseKey(key);
}

void SetAgentWindow(HWND window) {
    SetDword("hwnd", DWORD(reinterpret_cast<UINT_PTR>(window)));
}

namespace {

struct PipeReader {
    HANDLE pipe;
    std::string text;
};

DWORD WINAPI ReadPipe(void* arg) {
    PipeReader* reader = static_cast<PipeReader*>(arg);
    char chunk[4096];
    DWORD got;
    while (ReadFile(reader->pipe, chunk, sizeof(chunk), &got, nullptr) && got > 0)
        reader->text.append(chunk, got);
    return 0;
}

} // namespace

HotSyncRun RunHotSync(const std::string& arguments, const char* folder,
                      const std::function<void()>& whilePaused) {
    HotSyncRun run = {0xFFFFFFFF, {}, -1.0};
    SECURITY_ATTRIBUTES sa = {sizeof(sa), nullptr, TRUE};
    HANDLE readEnd, writeEnd, errorRead, errorWrite;
    if (!CreatePipe(&readEnd, &writeEnd, &sa, 0)) return run;
    if (!CreatePipe(&errorRead, &errorWrite, &sa, 0)) {
        CloseHandle(readEnd);
        CloseHandle(writeEnd);
        return run;
    }
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(errorRead, HANDLE_FLAG_INHERIT, 0);

    // The Sync Manager stand-in's pause (ZLV_SYNC_PAUSE) meets these two events.
    HANDLE paused = whilePaused ? CreateEventA(nullptr, FALSE, FALSE, "zlv_sync_paused") : nullptr;
    HANDLE resume = whilePaused ? CreateEventA(nullptr, FALSE, FALSE, "zlv_sync_resume") : nullptr;
    std::string palm = PalmFolder();
    std::string exe = palm + "\\hotsync.exe";
    std::string command = "\"" + exe + "\" " + arguments;
    STARTUPINFOA si = {};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = writeEnd;
    si.hStdError = errorWrite;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION pi;
    std::vector<char> line(command.begin(), command.end());
    line.push_back(0);
    BOOL started = CreateProcessA(exe.c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                  folder ? folder : palm.c_str(), &si, &pi);
    CloseHandle(writeEnd);
    CloseHandle(errorWrite);
    if (!started) {
        CloseHandle(readEnd);
        CloseHandle(errorRead);
        return run;
    }
    PipeReader reader = {readEnd, {}}, errors = {errorRead, {}};
    HANDLE thread = CreateThread(nullptr, 0, ReadPipe, &reader, 0, nullptr);
    HANDLE errorThread = CreateThread(nullptr, 0, ReadPipe, &errors, 0, nullptr);

    // The conduit sends its message synchronously: keep this thread's windows answering.
    DWORD deadline = GetTickCount() + 30000;
    HANDLE waits[] = {pi.hProcess, paused};
    for (;;) {
        DWORD wait = MsgWaitForMultipleObjects(paused ? 2 : 1, waits, FALSE, 100, QS_ALLINPUT);
        if (wait == WAIT_OBJECT_0) break;
        if (paused && wait == WAIT_OBJECT_0 + 1) {
            whilePaused();
            SetEvent(resume);
        }
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        if (GetTickCount() > deadline) {
            TerminateProcess(pi.hProcess, 0xDEAD);
            WaitForSingleObject(pi.hProcess, 5000);
            break;
        }
    }
    GetExitCodeProcess(pi.hProcess, &run.exitCode);
    for (HANDLE h : {paused, resume})
        if (h) CloseHandle(h);
    for (HANDLE t : {thread, errorThread}) {
        WaitForSingleObject(t, 5000);
        CloseHandle(t);
    }
    CloseHandle(readEnd);
    CloseHandle(errorRead);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);

    std::string current;
    for (char c : reader.text) {
        if (c == '\n') {
            run.lines.push_back(current);
            current.clear();
        } else if (c != '\r') {
            current += c;
        }
    }
    if (!current.empty()) run.lines.push_back(current);

    fputs(errors.text.c_str(), stderr);
    const char kTimed[] = "hotsync: result ";
    size_t at = errors.text.find(kTimed);
    long result;
    double ms;
    if (at != std::string::npos &&
        sscanf(errors.text.c_str() + at + sizeof kTimed - 1, "%ld after %lf ms", &result, &ms) == 2)
        run.conduitMs = ms;
    return run;
}
