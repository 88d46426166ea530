#include "conduit/settings_key.h"

#include <stdlib.h>

#include "conduit/owners.h"
#include "conduit/path_calls.h"

namespace {

const DWORD kFlagSize = 4; // one digit and three zero bytes

// The user's key, full access, created if missing, as the agent opens it.
LONG OpenUserKey(HKEY* key) {
    *key = nullptr;
    return RegCreateKeyExA(HKEY_CURRENT_USER, CONDUIT_SETTINGS_KEY, 0, nullptr, 0, KEY_ALL_ACCESS,
                           nullptr, key, nullptr);
}

HKEY OpenSettingsKey() {
    HKEY key = nullptr;
    return OpenUserKey(&key) == ERROR_SUCCESS ? key : nullptr;
}

// text gets at most four bytes; its fifth stays the terminator.
LONG QueryFlag(HKEY key, const char* name, char (&text)[kFlagSize + 1]) {
    DWORD type = REG_SZ, size = kFlagSize;
    return RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(text), &size);
}

LONG ReadUserFlag(const char* name, char (&text)[kFlagSize + 1]) {
    HKEY raw = nullptr;
    LONG status = OpenUserKey(&raw);
    KeyOwner key(raw);
    if (status == ERROR_SUCCESS) return QueryFlag(key.Get(), name, text);
    // Not there and not to be made: the user has no value of their own.
    HKEY probe = nullptr;
    LONG exists =
        RegOpenKeyExA(HKEY_CURRENT_USER, CONDUIT_SETTINGS_KEY, 0, KEY_QUERY_VALUE, &probe);
    KeyOwner probed(probe);
    return exists == ERROR_FILE_NOT_FOUND ? ERROR_FILE_NOT_FOUND : status;
}

// Opened for reading only, never created.
LONG ReadMachineFlag(const char* name, char (&text)[kFlagSize + 1]) {
    HKEY raw = nullptr;
    LONG status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, CONDUIT_SETTINGS_KEY, 0, KEY_QUERY_VALUE, &raw);
    KeyOwner key(raw);
    return status == ERROR_SUCCESS ? QueryFlag(key.Get(), name, text) : status;
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

FolderRead ReadAgentFolder(wchar_t* buffer, DWORD size) {
    ZeroMemory(buffer, size * sizeof(wchar_t));
    KeyOwner key(OpenSettingsKey());
    if (!key.Get()) return kFolderMissing;
    DWORD type = 0;
    LONG status = QueryText(key.Get(), "target", buffer, size, &type);
    if (status == ERROR_MORE_DATA && type == REG_SZ) {
        ZeroMemory(buffer, size * sizeof(wchar_t));
        return kFolderTooLong;
    }
    // The agent stores a text; any other type is not a folder at all.
    if (status != ERROR_SUCCESS || type != REG_SZ) {
        ZeroMemory(buffer, size * sizeof(wchar_t));
        return kFolderMissing;
    }
    return kFolderRead;
}

bool ReadAgentFlag(const char* name) {
    char text[kFlagSize + 1] = {0, 0, 0, 0, 0};
    LONG status = ReadUserFlag(name, text);
    // The user's own value decides, even one that cannot be read.
    if (status == ERROR_FILE_NOT_FOUND) status = ReadMachineFlag(name, text);
    if (status != ERROR_SUCCESS) return false;
    text[kFlagSize] = '\0';
    return atol(text) != 0;
}

void WriteAgentFlag(const char* name, bool on) {
    const char text[kFlagSize] = {on ? '1' : '0', 0, 0, 0};
    KeyOwner key(OpenSettingsKey());
    if (!key.Get()) return;
    RegSetValueExA(key.Get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), sizeof text);
}
