#include "agent/shell/settings.h"

#include "agent/owners.h"
#include "agent/path/path_calls.h"
#include "agent/shell/agent_state.h"
#include "agent/shell/settings_text.h"

namespace {

// A flag's stored form is one digit and three zero bytes; one more byte keeps a terminator.
const DWORD kFlagBufferSize = 5;

HKEY OpenUserKey() {
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, ZLV_SETTINGS_KEY, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        &key, nullptr) != ERROR_SUCCESS)
        return nullptr;
    return key;
}

// At most size - 1 bytes, so the buffer's last byte stays the caller's terminator. The type is
// not looked at: a value of another type reads as its bytes.
LONG QueryText(HKEY key, const char* name, char* buffer, DWORD size) {
    DWORD type = REG_SZ;
    DWORD length = size - 1;
    return RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &length);
}

LONG ReadUserText(const char* name, char* buffer, DWORD size) {
    ScopedKey key;
    LONG status = RegCreateKeyExA(HKEY_CURRENT_USER, ZLV_SETTINGS_KEY, 0, nullptr, 0,
                                  KEY_ALL_ACCESS, nullptr, key.Receive(), nullptr);
    if (status == ERROR_SUCCESS) return QueryText(key.Get(), name, buffer, size);
    // A key that is not there, and may not be made, holds no value of the user's.
    ScopedKey existing;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, ZLV_SETTINGS_KEY, 0, KEY_QUERY_VALUE,
                      existing.Receive()) == ERROR_FILE_NOT_FOUND)
        return ERROR_FILE_NOT_FOUND;
    return status;
}

// Opened for reading only: a missing machine key is never created.
LONG ReadMachineText(const char* name, char* buffer, DWORD size) {
    ScopedKey key;
    LONG status =
        RegOpenKeyExA(HKEY_LOCAL_MACHINE, ZLV_SETTINGS_KEY, 0, KEY_QUERY_VALUE, key.Receive());
    return status == ERROR_SUCCESS ? QueryText(key.Get(), name, buffer, size) : status;
}

bool WriteDword(const char* name, DWORD value) {
    ScopedKey key(OpenUserKey());
    return key.Held() &&
           RegSetValueExA(key.Get(), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                          sizeof value) == ERROR_SUCCESS;
}

} // namespace

bool ReadSettingFlag(const char* name) {
    char user[kFlagBufferSize] = {}, machine[kFlagBufferSize] = {};
    LONG userStatus = ReadUserText(name, user, sizeof user);
    LONG machineStatus = ERROR_FILE_NOT_FOUND;
    if (userStatus == ERROR_FILE_NOT_FOUND)
        machineStatus = ReadMachineText(name, machine, sizeof machine);
    return ResolveFlag(userStatus, user, machineStatus, machine);
}

bool WriteSettingFlag(const char* name, bool on) {
    const char text[kFlagBufferSize] = {on ? '1' : '0', 0, 0, 0, 0};
    ScopedKey key(OpenUserKey());
    return key.Held() &&
           RegSetValueExA(key.Get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                          kFlagBufferSize - 1) == ERROR_SUCCESS;
}

void StoreWindowHandle(HWND window) {
    WriteDword("hwnd", static_cast<DWORD>(reinterpret_cast<UINT_PTR>(window)));
}

StoreFolderResult StoreAgentFolder(const char* folder) {
    ScopedKey key(OpenUserKey());
    if (!key.Held()) return kFolderKeyNotOpened;
    // Wide on Windows NT: the conduit gets the exact folder back, whatever its letters.
    return SetTextValue(key.Get(), "target", folder) == ERROR_SUCCESS ? kFolderStored
                                                                      : kFolderWriteFailed;
}

void StoreLastUpdate() {
    WriteDword("lastupdate", static_cast<DWORD>(AgentNow()));
}

bool IsUpdatedToday() {
    DWORD last = 0;
    ScopedKey key(OpenUserKey());
    if (key.Held()) {
        DWORD type = 0, size = sizeof last;
        // Only the agent's own number counts: four bytes of text could read as today.
        if (RegQueryValueExA(key.Get(), "lastupdate", nullptr, &type,
                             reinterpret_cast<BYTE*>(&last), &size) != ERROR_SUCCESS ||
            type != REG_DWORD || size != sizeof last)
            last = 0;
    }
    return IsSameLocalDay(AgentNow(), static_cast<time_t>(last));
}
