// The modeless About box with the animated logo.
#pragma once
#include <windows.h>

void ShowAbout();
INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
