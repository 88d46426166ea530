#include "agent/shell/tray.h"

#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "agent/balloon/balloon_window.h"
#include "agent/resources/resource.h"
#include "agent/shell/agent_state.h"
#include "agent/shell/settings.h"
#include "agent/shell/tray_rules.h"

namespace {

// The two record forms the shells know: with balloon fields, and the first one.
const size_t kShortTipSize = 64; // the first form's tip, terminator included
const DWORD kLongRecordSize = offsetof(NOTIFYICONDATAA, dwInfoFlags) + sizeof(DWORD);
const DWORD kShortRecordSize = offsetof(NOTIFYICONDATAA, szTip) + kShortTipSize;
#ifndef _WIN64
static_assert(kLongRecordSize == 488, "balloon fields end at 488 bytes");
static_assert(kShortRecordSize == 88, "first form is 88 bytes");
#endif
static_assert(static_cast<int>(kFrameCount) == static_cast<int>(kTrayFrameCount),
              "one frame count");

const char kTooltipFormat[] = "Zelvantic Desktop Agent v%s";
const char kVersionText[] = "1.5";
const char kNoticeTitle[] = "Zelvantic";
const UINT kTrayCallback = WM_USER;
// The system's shared information icon, as the balloon loads it by number.
const UINT kInformationIcon = LOWORD(reinterpret_cast<ULONG_PTR>(IDI_INFORMATION));
const UINT kCustomBalloonMs = 10000;
const UINT kBaseFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;

struct SettingsItem {
    UINT commandId;
    const char* setting;
};
const SettingsItem kSettingsItems[] = {{IDM_STARTUP, "startup"}, {IDM_TOOLTIP, "tooltip"}};
const int kSettingsPosition = 3;

void Notify(DWORD message) {
    NotifyIconFn notify = g_agent.notify ? g_agent.notify : Shell_NotifyIconA;
    notify(message, g_agent.trayRecord);
}

bool IsLongRecord() {
    return g_agent.trayRecord && g_agent.trayRecord->cbSize >= kLongRecordSize;
}

HICON FrameIcon(int frame) {
    if (frame < 0 || frame >= kFrameCount) frame = 0;
    return g_agent.frames[frame];
}

const char* SettingOf(UINT commandId) {
    for (const SettingsItem& item : kSettingsItems)
        if (item.commandId == commandId) return item.setting;
    return nullptr;
}

// A handle kept from before a shell restart names no window, or by now another one.
bool IsNotifyArea(HWND window) {
    char name[30];
    memset(name, 0, sizeof name);
    return GetClassNameA(window, name, 29) > 0 && lstrcmpiA(name, "TrayNotifyWnd") == 0;
}

// The notification area's place on screen, looked up again when the shell has been replaced.
bool NotifyAreaRect(RECT* area) {
    HWND known = g_agent.notifyAreaWindow;
    if (known && IsNotifyArea(known) && GetWindowRect(known, area)) return true;
    g_agent.notifyAreaWindow = FindNotifyAreaWindow();
    return g_agent.notifyAreaWindow && GetWindowRect(g_agent.notifyAreaWindow, area);
}

void ShowCustomBalloon(const char* text) {
    RECT area;
    if (!text || !NotifyAreaRect(&area)) return;
    HideAllBalloons();
    ShowBalloon(kNoticeTitle, text, NotifyAreaAnchorX(area.left, area.right), area.bottom,
                kInformationIcon, BalloonCloseBox, nullptr, kCustomBalloonMs,
                g_agent.balloonBitmaps[0], g_agent.balloonBitmaps[1], g_agent.balloonBitmaps[2]);
}

// Sets one item's mark from its setting; false when the item's state cannot be read.
bool MarkFromSetting(HMENU settings, UINT commandId, const char* setting,
                     MENUITEMINFOA* out = nullptr) {
    MENUITEMINFOA info;
    ZeroMemory(&info, sizeof info);
    info.cbSize = sizeof info;
    info.fMask = MIIM_STATE;
    if (!GetMenuItemInfoA(settings, commandId, FALSE, &info)) return false;
    if (ReadSettingFlag(setting))
        info.fState |= MFS_CHECKED;
    else
        info.fState &= ~static_cast<UINT>(MFS_CHECKED);
    SetMenuItemInfoA(settings, commandId, FALSE, &info);
    if (out) *out = info;
    return true;
}

BOOL CALLBACK MatchNotifyArea(HWND child, LPARAM found) {
    if (!IsNotifyArea(child)) return TRUE;
    *reinterpret_cast<HWND*>(found) = child;
    return FALSE;
}

} // namespace

bool ShellHasBalloons() {
    if (!g_agent.shellModule) return false;
    OSVERSIONINFOA version;
    ZeroMemory(&version, sizeof version);
    version.dwOSVersionInfoSize = sizeof version;
    if (!GetVersionExA(&version)) return false;
    return ShellVersionHasBalloons(version.dwMajorVersion, version.dwMinorVersion);
}

HWND FindNotifyAreaWindow() {
    HWND taskbar = nullptr;
    for (int i = 0; i < 30 && !taskbar; ++i)
        taskbar = FindWindowA("Shell_TrayWnd", nullptr);
    if (!taskbar) return nullptr;
    HWND found = nullptr;
    EnumChildWindows(taskbar, MatchNotifyArea, reinterpret_cast<LPARAM>(&found));
    return found;
}

void SetTrayFrame(int frame) {
    bool adding = false;
    if (!g_agent.trayRecord) {
        // Always the full structure in memory, so no field write can leave the allocation; the
        // shell reads only cbSize bytes.
        NOTIFYICONDATAA* record = static_cast<NOTIFYICONDATAA*>(calloc(1, sizeof(NOTIFYICONDATAA)));
        if (!record) return;
        record->cbSize = ShellHasBalloons() ? kLongRecordSize : kShortRecordSize;
        record->hWnd = g_agent.mainWindow;
        record->uID = 0;
        record->uFlags = kBaseFlags;
        record->uCallbackMessage = kTrayCallback;
        g_agent.trayRecord = record;
        adding = true;
    }
    NOTIFYICONDATAA* record = g_agent.trayRecord;
    record->hIcon = FrameIcon(frame);
    size_t tipSize = IsLongRecord() ? sizeof record->szTip : kShortTipSize;
    snprintf(record->szTip, tipSize, kTooltipFormat, kVersionText);
    Notify(adding ? NIM_ADD : NIM_MODIFY);
    if (adding) g_agent.trayAdded = true;
}

void RestoreTrayIcon() {
    // A new taskbar: our own balloons point at its notification area, not the old one's.
    if (!ShellHasBalloons()) g_agent.notifyAreaWindow = FindNotifyAreaWindow();
    if (!g_agent.trayRecord) {
        SetTrayFrame(g_agent.frameCounter);
        return;
    }
    Notify(NIM_ADD); // the record still holds the frame shown last
    g_agent.trayAdded = true;
}

void ShowTrayNotice(const char* text, int kind) {
    if (!g_agent.trayRecord) SetTrayFrame(g_agent.frameCounter);
    NOTIFYICONDATAA* record = g_agent.trayRecord;
    if (!record) return;
    if (!ShellHasBalloons() || !IsLongRecord()) {
        ShowCustomBalloon(text);
        return;
    }
    if (text) {
        record->uFlags = kBaseFlags | NIF_INFO;
        record->uID = 0;
        record->dwInfoFlags = static_cast<DWORD>(kind);
        record->uTimeout = 4;
        lstrcpynA(record->szInfo, text, sizeof record->szInfo); // cuts at 255 characters
        lstrcpynA(record->szInfoTitle, kNoticeTitle, sizeof record->szInfoTitle);
    } else {
        record->uFlags = kBaseFlags;
        record->dwInfoFlags = 0;
        record->szInfo[0] = '\0';
    }
    SetTrayFrame(g_agent.frameCounter);
}

void AdvanceTrayAnimation() {
    TrayStep step = NextTrayFrame(g_agent.frameCounter);
    g_agent.frameCounter = step.counter;
    if (step.show) SetTrayFrame(step.counter);
}

void ResetTrayAnimation() {
    if (g_agent.frameCounter == 0) return;
    g_agent.frameCounter = 0;
    SetTrayFrame(0);
}

void DeleteTrayIcon() {
    if (!g_agent.trayRecord) return;
    Notify(NIM_DELETE);
    g_agent.trayAdded = false;
}

void ShowPopupMenu() {
    HideAllBalloons();
    // The conduit's dialog writes the same two settings: the marks show what they hold now.
    InitMenuChecks();
    HWND previous = GetForegroundWindow();
    POINT cursor = {0, 0};
    GetCursorPos(&cursor);
    SetForegroundWindow(g_agent.mainWindow);
    TrackPopupMenu(g_agent.popupMenu, TPM_VERTICAL, cursor.x, cursor.y, 0, g_agent.mainWindow,
                   nullptr);
    SetForegroundWindow(previous);
}

void InitMenuChecks() {
    HMENU settings = GetSubMenu(g_agent.popupMenu, kSettingsPosition);
    if (!settings) return;
    for (const SettingsItem& item : kSettingsItems)
        MarkFromSetting(settings, item.commandId, item.setting);
}

void ToggleMenuCheck(UINT commandId) {
    const char* setting = SettingOf(commandId);
    HMENU settings = GetSubMenu(g_agent.popupMenu, kSettingsPosition);
    if (!setting || !settings) return;
    MENUITEMINFOA info;
    // From the settings first: the conduit may have changed them since the mark was set.
    if (!MarkFromSetting(settings, commandId, setting, &info)) return;
    info.fState ^= MFS_CHECKED;
    WriteSettingFlag(setting, (info.fState & MFS_CHECKED) != 0);
    SetMenuItemInfoA(settings, commandId, FALSE, &info);
}
