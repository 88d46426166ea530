// The tray icon, its notices and the popup menu.
#pragma once
#include <windows.h>

enum NoticeKind { kNoticeInformation = 1, kNoticeWarning = 2, kNoticeError = 3 };

bool ShellHasBalloons();
void SetTrayFrame(int frame);
void ShowTrayNotice(const char* text, int kind); // text null: clear the pending notice
void AdvanceTrayAnimation();
void ResetTrayAnimation();
void DeleteTrayIcon();
void ShowPopupMenu();
void InitMenuChecks();          // start-up: marks from "startup" and "tooltip"
void ToggleMenuCheck(UINT commandId);
