#include "tests/win/common/palm_desktop.h"

#include <windows.h>
#include <string.h>

#include "tests/win/common/file_helpers.h"

namespace {

bool ReadText(const char* name, std::string* text) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, ZLV_PALM_DESKTOP_KEY_PATH, 0, KEY_READ, &key) !=
        ERROR_SUCCESS)
        return false;
    wchar_t buffer[MAX_PATH + 1] = {};
    DWORD size = MAX_PATH * sizeof(wchar_t), type = 0;
    LONG status = RegQueryValueExW(key, Wide(name).c_str(), nullptr, &type,
                                   reinterpret_cast<BYTE*>(buffer), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) return false;
    *text = Utf8(buffer);
    return true;
}

void WriteText(const char* name, const char* text) {
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, ZLV_PALM_DESKTOP_KEY_PATH, 0, nullptr, 0, KEY_WRITE,
                        nullptr, &key, nullptr) != ERROR_SUCCESS)
        return;
    if (text) {
        std::wstring wide = Wide(text);
        RegSetValueExW(key, Wide(name).c_str(), 0, REG_SZ,
                       reinterpret_cast<const BYTE*>(wide.c_str()),
                       DWORD((wide.size() + 1) * sizeof(wchar_t)));
    } else {
        RegDeleteValueA(key, name);
    }
    RegCloseKey(key);
}

} // namespace

std::string PalmFolder() {
    std::string path;
    if (!ReadText("Path", &path)) return std::string();
    while (!path.empty() && path.back() == '\\')
        path.pop_back();
    return path;
}

HMODULE LoadConduitAsHost(const std::string& path) {
    SetDllDirectoryW(Wide(PalmFolder()).c_str());
    HMODULE module = LoadLibraryW(Wide(path).c_str());
    SetDllDirectoryW(nullptr);
    return module;
}

NamedPalmDesktop::NamedPalmDesktop(const char* path, const char* hotSyncPath) {
    path_.had = ReadText("Path", &path_.text);
    hotSyncPath_.had = ReadText("HotSyncPath", &hotSyncPath_.text);
    WriteText("Path", path);
    WriteText("HotSyncPath", hotSyncPath);
}

NamedPalmDesktop::~NamedPalmDesktop() {
    WriteText("Path", path_.had ? path_.text.c_str() : nullptr);
    WriteText("HotSyncPath", hotSyncPath_.had ? hotSyncPath_.text.c_str() : nullptr);
}
