// The process-wide list of open balloon windows and its lock.
#pragma once
#include <windows.h>

// Called from the window's creation and destruction: the lock exists while a balloon window does.
void AddOpenBalloon(HWND window);
void RemoveOpenBalloon(HWND window);
bool IsOpenBalloon(HWND window);
