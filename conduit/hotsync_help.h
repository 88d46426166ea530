// The HotSync Manager's own help, which the settings dialog's Help opens before Windows Vista.
#pragma once
#include <windows.h>

// Opens "hotsync.hlp" of the user's Palm Desktop at the given context: the folder Palm Desktop
// names in the user's registry, found as the agent finds its Conduit Manager, and only on a fixed
// drive. WinHelp runs a help file's macros as whoever pressed Help, so a file beside conduit.dll,
// or on a share, is never opened. False when there is no such file or the viewer refuses it.
bool OpenHotSyncHelp(HWND dialog, DWORD context);
