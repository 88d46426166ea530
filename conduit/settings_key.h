// The conduit's own view of the agent's settings key: each read opens the key, reads, closes.
#pragma once
#include <windows.h>

#define CONDUIT_SETTINGS_KEY "Software\\Morvane\\Zelvantic"

// The agent's window from "hwnd", or 0 when absent, malformed or no longer a window.
HWND ReadAgentWindow();

enum FolderRead { kFolderMissing, kFolderTooLong, kFolderRead };
// Reads "target" as text into buffer (size bytes, always terminated).
FolderRead ReadAgentFolder(char* buffer, DWORD size);
