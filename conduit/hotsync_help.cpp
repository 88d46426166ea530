#include "conduit/hotsync_help.h"

#include "agent/shell/palm_desktop_text.h"
#include "conduit/path_calls.h"

namespace {

const wchar_t kHelpFile[] = L"hotsync.hlp";

// One text value of Palm Desktop's key, environment names expanded; empty when absent, of
// another type, or too long to be a path.
void ReadPalmValue(HKEY key, const char* name, wchar_t (&text)[MAX_PATH + 1]) {
    wchar_t raw[MAX_PATH + 1];
    DWORD type = 0;
    text[0] = 0;
    if (QueryText(key, name, raw, MAX_PATH + 1, &type) != ERROR_SUCCESS) return;
    if (type == REG_SZ) {
        for (size_t i = 0; i <= MAX_PATH; ++i)
            text[i] = raw[i];
    } else if (type == REG_EXPAND_SZ) {
        DWORD needed = ExpandEnvironmentStringsW(raw, text, MAX_PATH);
        if (needed == 0 || needed > MAX_PATH) text[0] = 0;
    }
    text[MAX_PATH] = 0;
}

} // namespace

bool OpenHotSyncHelp(HWND dialog, DWORD context) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, ZLV_PALM_DESKTOP_KEY, 0, KEY_QUERY_VALUE, &key) !=
        ERROR_SUCCESS)
        return false;
    wchar_t path[MAX_PATH + 1], hotSyncPath[MAX_PATH + 1];
    ReadPalmValue(key, "Path", path);
    ReadPalmValue(key, "HotSyncPath", hotSyncPath);
    RegCloseKey(key);
    wchar_t help[MAX_PATH], root[4];
    if (!PalmDesktopFile(path, hotSyncPath, kHelpFile, help, MAX_PATH) || !DriveRoot(help, root) ||
        DriveType(root) != DRIVE_FIXED)
        return false;
    const DWORD attributes = PathAttributes(help);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return false;
    return OpenHelpFile(dialog, help, HELP_CONTEXT, context) != FALSE;
}
