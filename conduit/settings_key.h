// The conduit's own view of the agent's settings key: each access opens the key, touches one
// value, closes.
#pragma once
#include <windows.h>

#define CONDUIT_SETTINGS_KEY "Software\\Morvane\\Zelvantic"

// The agent's window from "hwnd", or 0 when absent, malformed or no longer a window.
HWND ReadAgentWindow();

enum FolderRead { kFolderMissing, kFolderTooLong, kFolderRead };
// Reads "target" as text into buffer (size bytes, always terminated).
FolderRead ReadAgentFolder(char* buffer, DWORD size);

// "startup" and "tooltip": text "1" or "0", read as a decimal number; missing reads as off.
// The conduit keeps its own copy of the agent's flag rules: the two share no code.
bool ReadAgentFlag(const char* name);
void WriteAgentFlag(const char* name, bool on); // failures are ignored
