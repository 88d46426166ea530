// Conduit Manager stand-in: one registry key per creator under HKCU\PALMSIM_CONDUITS_KEY. As a
// real one would, it refuses to set anything for a creator that has no entry yet.
// Test switches: ZLV_CONDMGR_FAIL="ordinal=code,..." and ZLV_CONDMGR_LOG=file (a line per call).
#include <windows.h>

#include <string>

#include "palmsim/palmsim.h"

namespace {

enum : long {
    kOk = 0,
    kNotFound = -1001,
    kBufferTooSmall = -1002,
    kExists = -1003,
    kBadArgument = -1004,
    kRegistry = -1005,
};

const char kFail[] = "ZLV_CONDMGR_FAIL";
const char kLog[] = "ZLV_CONDMGR_LOG";

bool ValidCreator(const char* creator) {
    return creator && strnlen(creator, 5) == 4;
}

std::string EntryKey(const char* creator) {
    return std::string(PALMSIM_CONDUITS_KEY) + "\\" + creator;
}

bool EntryExists(const char* creator) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, EntryKey(creator).c_str(), 0, KEY_READ, &key) !=
        ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

// A setting belongs to an entry: without one made first, the call is refused.
long SetText(int ordinal, const char* creator, const char* value, const char* text) {
    if (!ValidCreator(creator) || !text) return kBadArgument;
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, EntryKey(creator).c_str(), 0, KEY_WRITE, &key) !=
        ERROR_SUCCESS) {
        palmsim::Log(kLog, "refused %d: no entry for %s", ordinal, creator);
        return kNotFound;
    }
    LONG status = RegSetValueExA(key, value, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                                 DWORD(strlen(text) + 1));
    RegCloseKey(key);
    return status == ERROR_SUCCESS ? kOk : kRegistry;
}

bool Fault(int ordinal, long* code) {
    if (!palmsim::InjectedFault(kFail, nullptr, ordinal, code)) return false;
    palmsim::Log(kLog, "%d -> injected %ld", ordinal, *code);
    return true;
}

} // namespace

// 46
extern "C" long WINAPI CmSetConduitFile(const char* creator, const char* path) {
    long code;
    if (Fault(46, &code)) return code;
    palmsim::Log(kLog, "46 %s %s", creator ? creator : "(null)", path ? path : "(null)");
    return SetText(46, creator, "Conduit", path);
}

// 48
extern "C" long WINAPI CmSetFolder(const char* creator, const char* folder) {
    long code;
    if (Fault(48, &code)) return code;
    palmsim::Log(kLog, "48 %s %s", creator ? creator : "(null)", folder ? folder : "(null)");
    return SetText(48, creator, "Folder", folder);
}

// 49: the folder text with its terminator; size holds the room on entry, the length needed after.
extern "C" long WINAPI CmQueryFolder(const char* creator, char* buffer, int* size) {
    long code;
    if (Fault(49, &code)) return code;
    palmsim::Log(kLog, "49 %s %d", creator ? creator : "(null)", size ? *size : -1);
    if (!ValidCreator(creator) || !buffer || !size || *size <= 0) return kBadArgument;
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, EntryKey(creator).c_str(), 0, KEY_READ, &key) !=
        ERROR_SUCCESS)
        return kNotFound;
    char folder[1024] = {};
    DWORD length = sizeof(folder) - 1, type = 0;
    LONG status =
        RegQueryValueExA(key, "Folder", nullptr, &type, reinterpret_cast<BYTE*>(folder), &length);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS || type != REG_SZ) return kNotFound;
    int needed = int(strlen(folder)) + 1;
    if (needed > *size) {
        *size = needed;
        return kBufferTooSmall;
    }
    memcpy(buffer, folder, needed);
    *size = needed;
    return kOk;
}

// 63
extern "C" long WINAPI CmSetFileName(const char* creator, const char* name) {
    long code;
    if (Fault(63, &code)) return code;
    palmsim::Log(kLog, "63 %s %s", creator ? creator : "(null)", name ? name : "(null)");
    return SetText(63, creator, "File", name);
}

// 65
extern "C" long WINAPI CmRemoveEntry(const char* creator) {
    long code;
    if (Fault(65, &code)) return code;
    palmsim::Log(kLog, "65 %s", creator ? creator : "(null)");
    if (!ValidCreator(creator)) return kBadArgument;
    LONG status = RegDeleteKeyA(HKEY_CURRENT_USER, EntryKey(creator).c_str());
    return status == ERROR_SUCCESS ? kOk : kNotFound;
}

// 67
extern "C" long WINAPI CmCreateEntry(const char* creator, int type) {
    long code;
    if (Fault(67, &code)) return code;
    palmsim::Log(kLog, "67 %s %d", creator ? creator : "(null)", type);
    if (!ValidCreator(creator)) return kBadArgument;
    if (EntryExists(creator)) return kExists;
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, EntryKey(creator).c_str(), 0, nullptr, 0, KEY_WRITE,
                        nullptr, &key, nullptr) != ERROR_SUCCESS)
        return kRegistry;
    DWORD value = DWORD(type);
    LONG status =
        RegSetValueExA(key, "Type", 0, REG_DWORD, reinterpret_cast<BYTE*>(&value), sizeof(value));
    RegCloseKey(key);
    return status == ERROR_SUCCESS ? kOk : kRegistry;
}
