// The hidden main window: update cycle, tray callback, menu commands, sync-result notices.
#pragma once
#include <windows.h>

#define ZLV_MAIN_WINDOW_CLASS "kelpoWindowClassv10->ovin ka spy!!!"

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void UpdateCycleTick();
