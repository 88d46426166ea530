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

std::string BuildFolder() {
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, sizeof(path));
    std::string exe(path, n);
    std::string tests = exe.substr(0, exe.find_last_of('\\'));
    return tests.substr(0, tests.find_last_of('\\'));
}

TempFolder::TempFolder(const char* tag) {
    static int counter;
    char temp[MAX_PATH];
    GetTempPathA(sizeof(temp), temp);
    char name[MAX_PATH];
    snprintf(name, sizeof(name), "%szlv-%s-%lu-%d", temp, tag, GetCurrentProcessId(), ++counter);
    path = name;
    RemoveTree(path);
    CreateDirectoryA(path.c_str(), nullptr);
}

TempFolder::~TempFolder() {
    RemoveTree(path);
}

void RemoveTree(const std::string& path) {
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((path + "\\*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            std::string name = fd.cFileName;
            if (name == "." || name == "..") continue;
            std::string child = path + "\\" + name;
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(child);
            else {
                SetFileAttributesA(child.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileA(child.c_str());
            }
        } while (FindNextFileA(h, &fd));
        FindClose(h);
    }
    RemoveDirectoryA(path.c_str());
}

bool WriteFileBytes(const std::string& path, const Bytes& bytes) {
    HANDLE f = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    DWORD wrote = 0;
    bool ok = bytes.empty() || (WriteFile(f, bytes.data(), DWORD(bytes.size()), &wrote, nullptr) &&
                                wrote == bytes.size());
    CloseHandle(f);
    return ok;
}

bool ReadFileBytes(const std::string& path, Bytes* bytes) {
    HANDLE f = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    DWORD size = GetFileSize(f, nullptr), got = 0;
    bytes->resize(size);
    bool ok = size == 0 || (ReadFile(f, bytes->data(), size, &got, nullptr) && got == size);
    CloseHandle(f);
    return ok;
}

bool FileExists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::vector<std::string> ReadLines(const std::string& path) {
    Bytes bytes;
    std::vector<std::string> lines;
    if (!ReadFileBytes(path, &bytes)) return lines;
    std::string line;
    for (unsigned char c : bytes) {
        if (c == '\n') {
            lines.push_back(line);
            line.clear();
        } else if (c != '\r') {
            line += char(c);
        }
    }
    if (!line.empty()) lines.push_back(line);
    return lines;
}

Bytes RatesFile(const Bytes& body) {
    Bytes file = {'k', 'e', 'l', 'p', 'o', 0, 0, 0, 0x80, 0x5E, 0x4C, 0x65};
    file.insert(file.end(), body.begin(), body.end());
    return file;
}

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

ScopedEnv::ScopedEnv(const char* variable, const std::string& value) : name(variable) {
    char buffer[2048];
    DWORD n = GetEnvironmentVariableA(variable, buffer, sizeof(buffer));
    had = n > 0 && n < sizeof(buffer);
    if (had) old.assign(buffer, n);
    SetEnvironmentVariableA(variable, value.empty() ? nullptr : value.c_str());
}

ScopedEnv::~ScopedEnv() {
    SetEnvironmentVariableA(name.c_str(), had ? old.c_str() : nullptr);
}

namespace {

HKEY SettingsKey() {
    HKEY key = nullptr;
    RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\Morvane\\Zelvantic", 0, nullptr, 0,
                    KEY_ALL_ACCESS, nullptr, &key, nullptr);
    return key;
}

} // namespace

void SetTarget(const std::string& folder) {
    HKEY key = SettingsKey();
    RegSetValueExA(key, "target", 0, REG_SZ, reinterpret_cast<const BYTE*>(folder.data()),
                   DWORD(folder.size()));
    RegCloseKey(key);
}

void SetAgentWindow(HWND window) {
    HKEY key = SettingsKey();
    DWORD value = DWORD(reinterpret_cast<UINT_PTR>(window));
    RegSetValueExA(key, "hwnd", 0, REG_DWORD, reinterpret_cast<BYTE*>(&value), sizeof(value));
    RegCloseKey(key);
}

void DeleteSetting(const char* name) {
    HKEY key = SettingsKey();
    RegDeleteValueA(key, name);
    RegCloseKey(key);
}

SavedSetting::SavedSetting(const char* value) : name(value), had(false), type(0) {
    HKEY key = SettingsKey();
    DWORD size = 0;
    if (RegQueryValueExA(key, value, nullptr, &type, nullptr, &size) == ERROR_SUCCESS) {
        data.resize(size);
        had = RegQueryValueExA(key, value, nullptr, &type, data.data(), &size) == ERROR_SUCCESS;
        data.resize(size);
    }
    RegCloseKey(key);
}

SavedSetting::~SavedSetting() {
    HKEY key = SettingsKey();
    if (had)
        RegSetValueExA(key, name.c_str(), 0, type, data.data(), DWORD(data.size()));
    else
        RegDeleteValueA(key, name.c_str());
    RegCloseKey(key);
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

HotSyncRun RunHotSync(const std::string& arguments) {
    HotSyncRun run = {0xFFFFFFFF, {}};
    SECURITY_ATTRIBUTES sa = {sizeof(sa), nullptr, TRUE};
    HANDLE readEnd, writeEnd;
    if (!CreatePipe(&readEnd, &writeEnd, &sa, 0)) return run;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);

    std::string exe = BuildFolder() + "\\hotsync.exe";
    std::string command = "\"" + exe + "\" " + arguments;
    STARTUPINFOA si = {};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = writeEnd;
    si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION pi;
    std::vector<char> line(command.begin(), command.end());
    line.push_back(0);
    BOOL started = CreateProcessA(exe.c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                  nullptr, &si, &pi);
    CloseHandle(writeEnd);
    if (!started) {
        CloseHandle(readEnd);
        return run;
    }
    PipeReader reader = {readEnd, {}};
    HANDLE thread = CreateThread(nullptr, 0, ReadPipe, &reader, 0, nullptr);

    // The conduit sends its message synchronously: keep this thread's windows answering.
    DWORD deadline = GetTickCount() + 30000;
    for (;;) {
        DWORD wait = MsgWaitForMultipleObjects(1, &pi.hProcess, FALSE, 100, QS_ALLINPUT);
        if (wait == WAIT_OBJECT_0) break;
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
    WaitForSingleObject(thread, 5000);
    CloseHandle(thread);
    CloseHandle(readEnd);
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
    return run;
}
