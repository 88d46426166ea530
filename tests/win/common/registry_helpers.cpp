#include "tests/win/common/registry_helpers.h"

#include <stdio.h>
#include <string.h>

#include <algorithm>

namespace {

HKEY RootOf(SettingsKey which) {
    return which == kMachineKey ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
}

// Every value of an open key, in the order the registry lists them.
template <class Visit> void EachValue(HKEY key, Visit visit) {
    for (DWORD i = 0;; ++i) {
        char name[16384];
        DWORD nameSize = sizeof name, type = 0, size = 0;
        if (RegEnumValueA(key, i, name, &nameSize, nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
            return;
        Bytes data(size);
        nameSize = sizeof name;
        if (RegEnumValueA(key, i, name, &nameSize, nullptr, &type, data.data(), &size) !=
            ERROR_SUCCESS)
            return;
        data.resize(size);
        visit(std::string(name, nameSize), type, data);
    }
}

void DeleteTreeBelow(HKEY root, const std::string& path) {
    HKEY key;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS) {
        std::vector<std::string> subkeys;
        char name[256];
        for (DWORD i = 0;; ++i) {
            DWORD size = sizeof name;
            if (RegEnumKeyExA(key, i, name, &size, nullptr, nullptr, nullptr, nullptr) !=
                ERROR_SUCCESS)
                break;
            subkeys.push_back(name);
        }
        RegCloseKey(key);
        for (const std::string& sub : subkeys)
            DeleteTreeBelow(root, path + "\\" + sub);
    }
    RegDeleteKeyA(root, path.c_str());
}

void AppendTree(HKEY root, const std::string& path, std::string* out) {
    HKEY key;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return;
    *out += "[" + path + "]\n";
    std::vector<std::string> values;
    EachValue(key, [&](const std::string& name, DWORD type, const Bytes& data) {
        char head[32];
        snprintf(head, sizeof head, " %lu:", static_cast<unsigned long>(type));
        std::string line = "\"" + name + "\"" + head;
        for (unsigned char b : data) {
            char hex[4];
            snprintf(hex, sizeof hex, "%02x", b);
            line += hex;
        }
        values.push_back(line + "\n");
    });
    std::vector<std::string> subkeys;
    char name[256];
    for (DWORD i = 0;; ++i) {
        DWORD size = sizeof name;
        if (RegEnumKeyExA(key, i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        subkeys.push_back(name);
    }
    RegCloseKey(key);
    std::sort(values.begin(), values.end());
    std::sort(subkeys.begin(), subkeys.end());
    for (const std::string& v : values)
        *out += v;
    for (const std::string& sub : subkeys)
        AppendTree(root, path.empty() ? sub : path + "\\" + sub, out);
}

} // namespace

HKEY OpenSettingsKey(SettingsKey which) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(RootOf(which), ZLV_KEY, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return nullptr;
    return key;
}

bool WriteSetting(const char* name, DWORD type, const void* data, DWORD size, SettingsKey which) {
    HKEY key = OpenSettingsKey(which);
    if (!key) return false;
    LONG rc = RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS;
}

bool WriteSetting(const char* name, DWORD type, const Bytes& data, SettingsKey which) {
    return WriteSetting(name, type, data.data(), DWORD(data.size()), which);
}

bool ReadSetting(const char* name, DWORD* type, Bytes* data, SettingsKey which) {
    data->clear();
    HKEY key;
    // Opened, never created: reading must not make the machine's key appear.
    if (RegOpenKeyExA(RootOf(which), ZLV_KEY, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return false;
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

void DeleteSetting(const char* name, SettingsKey which) {
    HKEY key;
    if (RegOpenKeyExA(RootOf(which), ZLV_KEY, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return;
    RegDeleteValueA(key, name);
    RegCloseKey(key);
}

bool SetFlagText(const char* name, const char* text, SettingsKey which) {
    char data[4] = {0, 0, 0, 0};
    strncpy(data, text, sizeof data);
    return WriteSetting(name, REG_SZ, data, sizeof data, which);
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

SavedSetting::SavedSetting(const char* value, SettingsKey key)
    : name(value), which(key), had(false), type(0) {
    had = ReadSetting(value, &type, &data, which);
}

SavedSetting::~SavedSetting() {
    if (had)
        WriteSetting(name.c_str(), type, data, which);
    else
        DeleteSetting(name.c_str(), which);
}

MachineDefaults::MachineDefaults(const char* startup, const char* tooltip, bool keyThere) {
    HKEY key;
    had_ = RegOpenKeyExA(HKEY_LOCAL_MACHINE, ZLV_KEY, 0, KEY_READ, &key) == ERROR_SUCCESS;
    if (had_) {
        EachValue(key, [&](const std::string& name, DWORD type, const Bytes& data) {
            saved_.push_back({name, type, data});
        });
        RegCloseKey(key);
    }
    DeleteTreeBelow(HKEY_LOCAL_MACHINE, ZLV_KEY);
    if (!keyThere) return;
    HKEY fresh = OpenSettingsKey(kMachineKey);
    if (fresh) RegCloseKey(fresh);
    if (startup) SetFlagText("startup", startup, kMachineKey);
    if (tooltip) SetFlagText("tooltip", tooltip, kMachineKey);
}

MachineDefaults::~MachineDefaults() {
    DeleteTreeBelow(HKEY_LOCAL_MACHINE, ZLV_KEY);
    if (!had_) return;
    HKEY key = OpenSettingsKey(kMachineKey);
    if (!key) return;
    for (const Value& v : saved_)
        RegSetValueExA(key, v.name.c_str(), 0, v.type, v.data.data(), DWORD(v.data.size()));
    RegCloseKey(key);
}

void DeleteKeyTree(HKEY root, const std::string& path) {
    DeleteTreeBelow(root, path);
}

std::string KeyTree(HKEY root, const std::string& path) {
    std::string out;
    AppendTree(root, path, &out);
    return out.empty() ? "<absent>" : out;
}
