#include "agent/shell/tray_rules.h"

bool ShellVersionHasBalloons(unsigned major, unsigned minor) {
    return major > 4 || minor >= 70;
}

TrayStep NextTrayFrame(int counter) {
    int next = counter + 1;
    if (next >= kTrayFrameCount || next < 0) return TrayStep{0, false};
    return TrayStep{next, true};
}

int NotifyAreaAnchorX(int left, int right) {
    // 64-bit so that absurd window rectangles cannot overflow.
    long long width = static_cast<long long>(right) - left + 36;
    return static_cast<int>(right - width / 2);
}
