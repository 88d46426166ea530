// The settings the agent shares with the conduit, in the user's own key: every access opens the
// key, touches one value, closes. The machine's key only lends the installer's defaults for the
// two flags, and is never written.
#pragma once
#include <windows.h>

#define ZLV_SETTINGS_KEY "Software\\Morvane\\Zelvantic"

bool ReadSettingFlag(const char* name);
bool WriteSettingFlag(const char* name, bool on);
void StoreWindowHandle(HWND window);

enum StoreFolderResult { kFolderKeyNotOpened, kFolderWriteFailed, kFolderStored };
// Writes "target": the folder (path text) the conduit takes the rates file from.
StoreFolderResult StoreAgentFolder(const char* folder);

void StoreLastUpdate();
bool IsUpdatedToday();
