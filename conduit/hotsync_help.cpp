#include "conduit/hotsync_help.h"

#include <string.h>

#include "agent/shell/palm_desktop_text.h"

namespace {

const char kHelpFile[] = "hotsync.hlp";

// One text value of Palm Desktop's key, environment names expanded; empty when absent.
void ReadPalmValue(HKEY key, const char* name, char (&text)[MAX_PATH + 1]) {
    char raw[MAX_PATH + 1] = {};
    DWORD type = 0, size = MAX_PATH; // raw[MAX_PATH] stays the terminator
    text[0] = '\0';
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(raw), &size) !=
        ERROR_SUCCESS)
        return;
    if (type == REG_SZ) {
        memcpy(text, raw, sizeof raw);
    } else if (type == REG_EXPAND_SZ) {
        DWORD needed = ExpandEnvironmentStringsA(raw, text, MAX_PATH);
        if (needed == 0 || needed > MAX_PATH) text[0] = '\0';
    }
    text[MAX_PATH] = '\0';
}

} // namespace

bool OpenHotSyncHelp(HWND dialog, DWORD context) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, ZLV_PALM_DESKTOP_KEY, 0, KEY_QUERY_VALUE, &key) !=
        ERROR_SUCCESS)
        return false;
    char path[MAX_PATH + 1], hotSyncPath[MAX_PATH + 1];
    ReadPalmValue(key, "Path", path);
    ReadPalmValue(key, "HotSyncPath", hotSyncPath);
    RegCloseKey(key);
    char help[MAX_PATH], root[4];
    if (!PalmDesktopFile(path, hotSyncPath, kHelpFile, help, sizeof help) ||
        !DriveRoot(help, root) || GetDriveTypeA(root) != DRIVE_FIXED)
        return false;
    const DWORD attributes = GetFileAttributesA(help);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return false;
    return WinHelpA(dialog, help, HELP_CONTEXT, context) != FALSE;
}
