#include "tests/win/agent_process/agent_harness.h"

#include <vector>

bool IsFile(const std::string& path) {
    DWORD a = GetFileAttributesA(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool SetRawText(const char* name, const std::string& data) {
    return WriteSetting(name, REG_SZ, data.data(), static_cast<DWORD>(data.size()));
}

bool ReadRaw(const char* name, std::string* data, DWORD* type) {
    HKEY key = OpenSettingsKey();
    if (!key) return false;
    // Texts through the wide call: the narrow one adds a terminator the stored data may lack.
    wchar_t wide[128] = {};
    MultiByteToWideChar(CP_ACP, 0, name, -1, wide, 127);
    DWORD size = 0;
    LONG rc = RegQueryValueExW(key, wide, nullptr, type, nullptr, &size);
    std::vector<BYTE> bytes(size + 2);
    if (rc == ERROR_SUCCESS) rc = RegQueryValueExW(key, wide, nullptr, type, bytes.data(), &size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS) return false;
    data->clear();
    if (*type == REG_SZ || *type == REG_EXPAND_SZ) {
        for (DWORD i = 0; i + 1 < size; i += 2) {
            wchar_t c = static_cast<wchar_t>(bytes[i] | bytes[i + 1] << 8);
            data->push_back(c < 0x80 ? static_cast<char>(c) : '?');
        }
    } else {
        data->assign(reinterpret_cast<const char*>(bytes.data()), size);
    }
    return true;
}
