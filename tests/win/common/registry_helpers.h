// The settings the agent and the conduit share, written and read raw: tests check and plant the
// exact stored data. Each call works on the user's own key unless given the machine's, where the
// installer leaves its defaults for the two flags.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

typedef std::vector<unsigned char> Bytes;

#define ZLV_KEY "Software\\Morvane\\Zelvantic"

// Whose settings: the user's (HKEY_CURRENT_USER) or the machine-wide defaults
// (HKEY_LOCAL_MACHINE).
enum SettingsKey { kUserKey, kMachineKey };

HKEY OpenSettingsKey(SettingsKey which = kUserKey); // created when missing; nullptr on failure
bool WriteSetting(const char* name, DWORD type, const void* data, DWORD size,
                  SettingsKey which = kUserKey);
bool WriteSetting(const char* name, DWORD type, const Bytes& data, SettingsKey which = kUserKey);
// The value as stored: type and bytes; false when absent.
bool ReadSetting(const char* name, DWORD* type, Bytes* data, SettingsKey which = kUserKey);
void DeleteSetting(const char* name, SettingsKey which = kUserKey);

// 4 bytes, as the agent writes them
bool SetFlagText(const char* name, const char* text, SettingsKey which = kUserKey);
bool SetDword(const char* name, DWORD value);
bool ReadDword(const char* name, DWORD* value); // false unless a 4-byte REG_DWORD

// Puts a settings value back as it was (or absent) when the holder goes.
struct SavedSetting {
    explicit SavedSetting(const char* name, SettingsKey which = kUserKey);
    ~SavedSetting();
    SavedSetting(const SavedSetting&) = delete;
    SavedSetting& operator=(const SavedSetting&) = delete;
    std::string name;
    SettingsKey which;
    bool had;
    DWORD type;
    Bytes data;
};

// The machine's settings key holding only the given defaults ("startup", "tooltip" as the
// installer writes them; a null text leaves the value out), or not there at all, for as long as
// it lives; the key comes back as it was afterwards.
class MachineDefaults {
  public:
    MachineDefaults(const char* startup, const char* tooltip, bool keyThere = true);
    ~MachineDefaults();
    MachineDefaults(const MachineDefaults&) = delete;
    MachineDefaults& operator=(const MachineDefaults&) = delete;

  private:
    struct Value {
        std::string name;
        DWORD type;
        Bytes data;
    };
    bool had_ = false;
    std::vector<Value> saved_;
};

// Removes a key with everything under it.
void DeleteKeyTree(HKEY root, const std::string& path);

// Everything under a key, as text: each subkey's path, each value's name, type and bytes, in a
// fixed order; "<absent>" when the key is not there. Two equal texts mean nothing changed.
std::string KeyTree(HKEY root, const std::string& path);
