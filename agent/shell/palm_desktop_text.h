// Where the user's Palm Desktop keeps its Conduit Manager, from the two values Palm Desktop writes
// under HKEY_CURRENT_USER\Software\U.S. Robotics\Pilot Desktop\Core: "Path" (its folder) and
// "HotSyncPath" (the HotSync Manager's program, whose folder holds the Conduit Manager too).
// Apart from the registry calls so that it is tested natively.
#pragma once
#include <stddef.h>

#define ZLV_PALM_DESKTOP_KEY "Software\\U.S. Robotics\\Pilot Desktop\\Core"

// Writes the full path of condmgr.dll into out (size bytes) and returns true; false, with out
// empty, when neither value names a folder on a drive letter (a drive and a separator) or the
// result would not fit. "Path" wins over "HotSyncPath"; either may be null, quoted, or end in
// separators.
bool ConduitManagerPath(const char* path, const char* hotSyncPath, char* out, size_t size);

// The same for any file of the Palm Desktop folder.
bool PalmDesktopFile(const char* path, const char* hotSyncPath, const char* file, char* out,
                     size_t size);

// "X:\" for a path on a drive letter, to ask Windows what kind of drive it is; false for every
// other form (a share, a device, a relative path). Code is loaded from the Palm Desktop folder
// only on a fixed drive of the computer: a share's or a removable disk's files are anyone's.
template <typename Char> bool DriveRoot(const Char* path, Char (&root)[4]) {
    if (!path) return false;
    const Char letter = static_cast<Char>(path[0] | 0x20);
    if (letter < 'a' || letter > 'z' || path[1] != ':' || (path[2] != '\\' && path[2] != '/'))
        return false;
    root[0] = path[0];
    root[1] = ':';
    root[2] = '\\';
    root[3] = 0;
    return true;
}
