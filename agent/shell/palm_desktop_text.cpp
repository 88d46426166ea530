#include "agent/shell/palm_desktop_text.h"

bool ConduitManagerPath(const char* path, const char* hotSyncPath, char* out, size_t size) {
    return PalmDesktopFile(path, hotSyncPath, "condmgr.dll", out, size);
}
