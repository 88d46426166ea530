// The conduit's own view of the agent's settings, in the user's own key: each access opens the
// key, touches one value, closes. The machine's key lends only the installer's defaults for the
// two flags, read when the user has no value of their own; nothing is written there.
#pragma once
#include <windows.h>

#define CONDUIT_SETTINGS_KEY "Software\\Morvane\\Zelvantic"

// The agent's window from "hwnd", or 0 when absent, malformed or no longer a window.
HWND ReadAgentWindow();

enum FolderRead { kFolderMissing, kFolderTooLong, kFolderRead };
// Reads "target" as text into buffer (size characters, always terminated), wide on Windows NT.
FolderRead ReadAgentFolder(wchar_t* buffer, DWORD size);

// "startup" and "tooltip": text "1" or "0", read as a decimal number; the user's own value, else
// the machine-wide default; missing on both reads as off. The conduit keeps its own copy of the
// agent's flag rules: the two share no code.
bool ReadAgentFlag(const char* name);
void WriteAgentFlag(const char* name, bool on); // the user's value; failures are ignored
