// Where the user's Palm Desktop keeps its Conduit Manager, from the two values Palm Desktop writes
// under HKEY_CURRENT_USER\Software\U.S. Robotics\Pilot Desktop\Core: "Path" (its folder) and
// "HotSyncPath" (the HotSync Manager's program, whose folder holds the Conduit Manager too).
// Apart from the registry calls so that it is tested natively.
#pragma once
#include <stddef.h>

#define ZLV_PALM_DESKTOP_KEY "Software\\U.S. Robotics\\Pilot Desktop\\Core"

// Writes the full path of condmgr.dll into out (size bytes) and returns true; false, with out
// empty, when neither value names a folder by an absolute path (a drive and a separator, or a
// UNC name) or the result would not fit. "Path" wins over "HotSyncPath"; either may be null,
// quoted, or end in separators.
bool ConduitManagerPath(const char* path, const char* hotSyncPath, char* out, size_t size);
