#include "tests/win/common/registry_helpers.h"

#include <string.h>

HKEY OpenSettingsKey() {
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, ZLV_KEY, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return nullptr;
    return key;
}

bool WriteSetting(const char* name, DWORD type, const void* data, DWORD size) {
    HKEY key = OpenSettingsKey();
    if (!key) return false;
    LONG rc = RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS;
}

bool WriteSetting(const char* name, DWORD type, const Bytes& data) {
    return WriteSetting(name, type, data.data(), DWORD(data.size()));
}

bool ReadSetting(const char* name, DWORD* type, Bytes* data) {
    data->clear();
    HKEY key = OpenSettingsKey();
    if (!key) return false;
    DWORD size = 0;
    LONG rc = RegQueryValueExA(key, name, nullptr, type, nullptr, &size);
    if (rc == ERROR_SUCCESS) {
        data->resize(size);
        rc = RegQueryValueExA(key, name, nullptr, type, data->data(), &size);
        data->resize(rc == ERROR_SUCCESS ? size : 0);
    }
    RegCloseKey(key);
    return rc == ERROR_SUCCESS;
}

void DeleteSetting(const char* name) {
    HKEY key = OpenSettingsKey();
    if (!key) return;
    RegDeleteValueA(key, name);
    RegCloseKey(key);
}

bool SetFlagText(const char* name, const char* text) {
    char data[4] = {0, 0, 0, 0};
    strncpy(data, text, sizeof data);
    return WriteSetting(name, REG_SZ, data, sizeof data);
}

bool SetDword(const char* name, DWORD value) {
    return WriteSetting(name, REG_DWORD, &value, sizeof value);
}

bool ReadDword(const char* name, DWORD* value) {
    DWORD type = 0;
    Bytes data;
    if (!ReadSetting(name, &type, &data) || type != REG_DWORD || data.size() != 4) return false;
    memcpy(value, data.data(), 4);
    return true;
}

SavedSetting::SavedSetting(const char* value) : name(value), had(false), type(0) {
    had = ReadSetting(value, &type, &data);
}

SavedSetting::~SavedSetting() {
    if (had)
        WriteSetting(name.c_str(), type, data);
    else
        DeleteSetting(name.c_str());
}
