// The tray's arithmetic, apart from the Win32 calls so that it is tested natively.
#pragma once

enum { kTrayFrameCount = 28 };

// Shells from 4.90 (and 5.0 on) show balloon tips of their own.
bool ShellVersionHasBalloons(unsigned major, unsigned minor);

// The next animation step from counter: the new counter, and whether that frame is shown. The wrap
// back to 0 shows nothing, so the icon keeps frame 27 for one more tick.
struct TrayStep {
    int counter;
    bool show;
};
TrayStep NextTrayFrame(int counter);

// Where a custom balloon's tail points: a little left of the notification area's middle.
int NotifyAreaAnchorX(int left, int right);
