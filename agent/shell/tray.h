// The tray icon, its notices and the popup menu.
#pragma once
#include <windows.h>

enum NoticeKind { kNoticeInformation = 1, kNoticeWarning = 2, kNoticeError = 3 };

bool ShellHasBalloons();
// The taskbar's "TrayNotifyWnd" child, where custom balloons point; null when there is none.
HWND FindNotifyAreaWindow();
void SetTrayFrame(int frame);
void ShowTrayNotice(const char* text, int kind); // text null: clear the pending notice
void AdvanceTrayAnimation();
void ResetTrayAnimation();
void DeleteTrayIcon();
// The shell came back: add the icon again with the current frame, and find the new taskbar's
// notification area.
void RestoreTrayIcon();
void ShowPopupMenu();
void InitMenuChecks(); // marks from "startup" and "tooltip": at start-up and at each opening
void ToggleMenuCheck(UINT commandId);
