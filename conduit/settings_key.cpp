#include "conduit/settings_key.h"

namespace {

HKEY OpenSettingsKey() {
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, CONDUIT_SETTINGS_KEY, 0, nullptr, 0, KEY_ALL_ACCESS,
                        nullptr, &key, nullptr) != ERROR_SUCCESS)
        return nullptr;
    return key;
}

} // namespace

HWND ReadAgentWindow() {
    HKEY key = OpenSettingsKey();
    if (!key) return nullptr;
    DWORD value = 0, type = 0, size = sizeof(value);
    LONG status =
        RegQueryValueExA(key, "hwnd", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS || type != REG_DWORD || size != sizeof(value)) return nullptr;
    HWND window = reinterpret_cast<HWND>(static_cast<UINT_PTR>(value));
    return IsWindow(window) ? window : nullptr;
}

FolderRead ReadAgentFolder(char* buffer, DWORD size) {
    ZeroMemory(buffer, size);
    HKEY key = OpenSettingsKey();
    if (!key) return kFolderMissing;
    // One byte short of the buffer, so the text always ends in a zero.
    DWORD length = size - 1, type = 0;
    LONG status =
        RegQueryValueExA(key, "target", nullptr, &type, reinterpret_cast<BYTE*>(buffer), &length);
    RegCloseKey(key);
    if (status == ERROR_MORE_DATA && type == REG_SZ) {
        ZeroMemory(buffer, size);
        return kFolderTooLong;
    }
    // The agent stores a text; any other type is not a folder at all.
    if (status != ERROR_SUCCESS || type != REG_SZ) {
        ZeroMemory(buffer, size);
        return kFolderMissing;
    }
    return kFolderRead;
}
