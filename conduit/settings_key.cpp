#include "conduit/settings_key.h"

#include <stdlib.h>

#include "conduit/owners.h"

namespace {

// Full access, created if missing, as the agent opens it.
HKEY OpenSettingsKey() {
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, CONDUIT_SETTINGS_KEY, 0, nullptr, 0, KEY_ALL_ACCESS,
                        nullptr, &key, nullptr) != ERROR_SUCCESS)
        return nullptr;
    return key;
}

} // namespace

HWND ReadAgentWindow() {
    KeyOwner key(OpenSettingsKey());
    if (!key.Get()) return nullptr;
    DWORD value = 0, type = 0, size = sizeof(value);
    LONG status =
        RegQueryValueExA(key.Get(), "hwnd", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
    if (status != ERROR_SUCCESS || type != REG_DWORD || size != sizeof(value)) return nullptr;
    HWND window = reinterpret_cast<HWND>(static_cast<UINT_PTR>(value));
    return IsWindow(window) ? window : nullptr;
}

FolderRead ReadAgentFolder(char* buffer, DWORD size) {
    ZeroMemory(buffer, size);
    KeyOwner key(OpenSettingsKey());
    if (!key.Get()) return kFolderMissing;
    // One byte short of the buffer, so the text always ends in a zero.
    DWORD length = size - 1, type = 0;
    LONG status = RegQueryValueExA(key.Get(), "target", nullptr, &type,
                                   reinterpret_cast<BYTE*>(buffer), &length);
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

bool ReadAgentFlag(const char* name) {
    char text[5] = {0, 0, 0, 0, 0};
    KeyOwner key(OpenSettingsKey());
    if (!key.Get()) return false;
    DWORD type = REG_SZ;
    DWORD size = 4; // text[4] stays the terminator
    if (RegQueryValueExA(key.Get(), name, nullptr, &type, reinterpret_cast<BYTE*>(text), &size) !=
        ERROR_SUCCESS)
        return false;
    text[4] = '\0';
    return atol(text) != 0;
}

void WriteAgentFlag(const char* name, bool on) {
    const char text[4] = {on ? '1' : '0', 0, 0, 0};
    KeyOwner key(OpenSettingsKey());
    if (!key.Get()) return;
    RegSetValueExA(key.Get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), sizeof text);
}
