// The settings key the agent and the conduit share, written and read raw: tests check and plant
// the exact stored data.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

typedef std::vector<unsigned char> Bytes;

#define ZLV_KEY "Software\\Morvane\\Zelvantic"

HKEY OpenSettingsKey(); // created when missing; nullptr on failure; the caller closes it
bool WriteSetting(const char* name, DWORD type, const void* data, DWORD size);
bool WriteSetting(const char* name, DWORD type, const Bytes& data);
// The value as stored: type and bytes; false when absent.
bool ReadSetting(const char* name, DWORD* type, Bytes* data);
void DeleteSetting(const char* name);

bool SetFlagText(const char* name, const char* text); // 4 bytes, as the agent writes them
bool SetDword(const char* name, DWORD value);
bool ReadDword(const char* name, DWORD* value); // false unless a 4-byte REG_DWORD

// Puts a settings value back as it was (or absent) when the holder goes.
struct SavedSetting {
    explicit SavedSetting(const char* name);
    ~SavedSetting();
    SavedSetting(const SavedSetting&) = delete;
    SavedSetting& operator=(const SavedSetting&) = delete;
    std::string name;
    bool had;
    DWORD type;
    Bytes data;
};
