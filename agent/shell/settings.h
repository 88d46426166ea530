// The settings key shared with the conduit: every access opens the key, touches one value, closes.
#pragma once
#include <windows.h>

#define ZLV_SETTINGS_KEY "Software\\Morvane\\Zelvantic"

bool ReadSettingText(HKEY root, const char* path, const char* name, char* buffer, DWORD size);
bool WriteSettingText(HKEY root, const char* path, const char* name, const char* data, DWORD size);

bool ReadSettingFlag(const char* name);
bool WriteSettingFlag(const char* name, bool on);
void StoreWindowHandle(HWND window);

enum StoreFolderResult { kFolderKeyNotOpened, kFolderWriteFailed, kFolderStored };
StoreFolderResult StoreAgentFolder(const char* folder);

void StoreLastUpdate();
bool IsUpdatedToday();
