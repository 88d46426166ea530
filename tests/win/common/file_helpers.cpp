#include "tests/win/common/file_helpers.h"

#include <shlobj.h>
#include <stdio.h>

std::wstring Wide(const std::string& utf8) {
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), nullptr, 0);
    std::wstring wide(n, L'\0');
    if (n) MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), &wide[0], n);
    return wide;
}

std::string Utf8(const std::wstring& wide) {
    int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), int(wide.size()), nullptr, 0, nullptr,
                                nullptr);
    std::string utf8(n, '\0');
    if (n)
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), int(wide.size()), &utf8[0], n, nullptr,
                            nullptr);
    return utf8;
}

std::string BuildFolder() {
    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::string self = Utf8(std::wstring(path, n));
    std::string tests = self.substr(0, self.find_last_of('\\'));
    return tests.substr(0, tests.find_last_of('\\'));
}

std::string ShippedFolder() {
    std::string build = BuildFolder();
    return build.substr(0, build.find_last_of('\\')) + "\\win";
}

std::string UserRatesFolder() {
    wchar_t base[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, 0, base))) return "";
    return Utf8(base) + "\\Zelvantic";
}

bool ReadBytes(const std::string& path, Bytes* bytes) {
    bytes->clear();
    HANDLE f = CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    DWORD size = GetFileSize(f, nullptr), got = 0;
    bytes->resize(size);
    bool ok = size == 0 || (ReadFile(f, bytes->data(), size, &got, nullptr) && got == size);
    CloseHandle(f);
    return ok;
}

bool WriteBytes(const std::string& path, const Bytes& bytes) {
    HANDLE f =
        CreateFileW(Wide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    DWORD wrote = 0;
    bool ok = bytes.empty() || (WriteFile(f, bytes.data(), DWORD(bytes.size()), &wrote, nullptr) &&
                                wrote == bytes.size());
    CloseHandle(f);
    return ok;
}

bool FileExists(const std::string& path) {
    return GetFileAttributesW(Wide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

void RemoveTree(const std::string& path) {
    WIN32_FIND_DATAW found;
    HANDLE h = FindFirstFileW(Wide(path + "\\*").c_str(), &found);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            std::string name = Utf8(found.cFileName);
            if (name == "." || name == "..") continue;
            std::string child = path + "\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(child);
            } else {
                SetFileAttributesW(Wide(child).c_str(),
                                   FILE_ATTRIBUTE_NORMAL); // read-only ones too
                DeleteFileW(Wide(child).c_str());
            }
        } while (FindNextFileW(h, &found));
        FindClose(h);
    }
    RemoveDirectoryW(Wide(path).c_str());
}

Bytes RatesFileFor(const Bytes& body) {
    Bytes file = {'k', 'e', 'l', 'p', 'o', 0, 0, 0, 0x80, 0x5E, 0x4C, 0x65};
    file.insert(file.end(), body.begin(), body.end());
    return file;
}

TempFolder::TempFolder(const char* tag) {
    static int counter;
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    char name[MAX_PATH];
    snprintf(name, sizeof name, "zlv-%s-%lu-%d", tag, GetCurrentProcessId(), ++counter);
    path = Utf8(temp) + name;
    RemoveTree(path);
    CreateDirectoryW(Wide(path).c_str(), nullptr);
}

TempFolder::~TempFolder() {
    RemoveTree(path);
}

ScopedEnv::ScopedEnv(const char* variable, const std::string& value) : name(variable) {
    char buffer[4096];
    DWORD n = GetEnvironmentVariableA(variable, buffer, sizeof buffer);
    had = n > 0 && n < sizeof buffer;
    if (had) old.assign(buffer, n);
    SetEnvironmentVariableA(variable, value.empty() ? nullptr : value.c_str());
}

ScopedEnv::~ScopedEnv() {
    SetEnvironmentVariableA(name.c_str(), had ? old.c_str() : nullptr);
}

std::vector<std::string> ReadLines(const std::string& path) {
    Bytes bytes;
    std::vector<std::string> lines;
    if (!ReadBytes(path, &bytes)) return lines;
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
