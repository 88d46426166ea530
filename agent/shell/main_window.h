// The hidden main window: update cycle, tray callback, menu commands, sync-result notices.
#pragma once
#include <windows.h>

#define ZLV_MAIN_WINDOW_CLASS "kelpoWindowClassv10->ovin ka spy!!!"

// Posted by a downloader's worker as it ends: handled as a tick, so a page is written at once.
enum { kDownloadDoneMessage = WM_APP };

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void UpdateCycleTick();
// Sets timer 100 of the window to the period; false when the system refused it.
bool StartTicking(HWND window, UINT periodMs);
