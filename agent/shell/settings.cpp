#include "agent/shell/settings.h"

#include <string.h>

#include "agent/owners.h"
#include "agent/shell/agent_state.h"
#include "agent/shell/settings_text.h"

namespace {

HKEY OpenSettingsKey(HKEY root, const char* path) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(root, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return nullptr;
    return key;
}

bool WriteDword(const char* name, DWORD value) {
    ScopedKey key(OpenSettingsKey(HKEY_LOCAL_MACHINE, ZLV_SETTINGS_KEY));
    return key.Held() &&
           RegSetValueExA(key.Get(), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                          sizeof value) == ERROR_SUCCESS;
}

} // namespace

bool ReadSettingText(HKEY root, const char* path, const char* name, char* buffer, DWORD size) {
    if (size < 1) return false;
    ScopedKey key(OpenSettingsKey(root, path));
    if (!key.Held()) return false;
    DWORD type = REG_SZ;
    DWORD length = size - 1; // the last byte stays the caller's terminator
    return RegQueryValueExA(key.Get(), name, nullptr, &type, reinterpret_cast<BYTE*>(buffer),
                            &length) == ERROR_SUCCESS;
}

bool WriteSettingText(HKEY root, const char* path, const char* name, const char* data, DWORD size) {
    if (size < 1) return false;
    ScopedKey key(OpenSettingsKey(root, path));
    return key.Held() &&
           RegSetValueExA(key.Get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data),
                          size - 1) == ERROR_SUCCESS;
}

bool ReadSettingFlag(const char* name) {
    char text[5] = {0, 0, 0, 0, 0};
    if (!ReadSettingText(HKEY_LOCAL_MACHINE, ZLV_SETTINGS_KEY, name, text, sizeof text))
        return false;
    text[4] = '\0';
    return ParseFlagText(text);
}

bool WriteSettingFlag(const char* name, bool on) {
    char text[5] = {on ? '1' : '0', 0, 0, 0, 0};
    return WriteSettingText(HKEY_LOCAL_MACHINE, ZLV_SETTINGS_KEY, name, text, sizeof text);
}

void StoreWindowHandle(HWND window) {
    WriteDword("hwnd", static_cast<DWORD>(reinterpret_cast<UINT_PTR>(window)));
}

StoreFolderResult StoreAgentFolder(const char* folder) {
    ScopedKey key(OpenSettingsKey(HKEY_LOCAL_MACHINE, ZLV_SETTINGS_KEY));
    if (!key.Held()) return kFolderKeyNotOpened;
    LONG rc = RegSetValueExA(key.Get(), "target", 0, REG_SZ, reinterpret_cast<const BYTE*>(folder),
                             static_cast<DWORD>(strlen(folder)));
    return rc == ERROR_SUCCESS ? kFolderStored : kFolderWriteFailed;
}

void StoreLastUpdate() {
    WriteDword("lastupdate", static_cast<DWORD>(AgentNow()));
}

bool IsUpdatedToday() {
    DWORD last = 0;
    ScopedKey key(OpenSettingsKey(HKEY_LOCAL_MACHINE, ZLV_SETTINGS_KEY));
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
