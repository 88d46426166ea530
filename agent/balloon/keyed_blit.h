// A copy that leaves the target as it was wherever the source shows the key colour: what
// TransparentBlt does at 1:1, with plain GDI only, so that the agent needs no msimg32.dll (not a
// known system library, so it would be looked for beside agent.exe first).
#pragma once
#include <windows.h>

// width x height pixels from source's (0, 0) to target's (x, y); false when a step failed.
bool KeyedBlit(HDC target, int x, int y, int width, int height, HDC source, COLORREF key);
