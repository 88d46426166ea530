// The conduit's settings dialog (templates 101 and 399), shared by CfgConduit and ConfigureConduit.
#pragma once
#include <windows.h>

INT_PTR CALLBACK SettingsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
void RecolorActionBitmaps(HWND dialog);
