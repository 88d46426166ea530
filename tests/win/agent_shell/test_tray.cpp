// The tray record as the shell receives it: add, modify, animation, notices, delete.
#include "tests/win/agent_shell/shell_fixture.h"

#include <string.h>

#include "agent/balloon/balloon_window.h"
#include "agent/shell/tray.h"
#include "tests/win/common/build_kind.h"
#include "tests/win/common/import_hook.h"

namespace {

using TrayTest = ShellTest;

struct TimerCall {
    HWND window;
    UINT_PTR id;
    UINT period;
};
std::vector<TimerCall> g_timers;
typedef UINT_PTR(WINAPI* SetTimerFn)(HWND, UINT_PTR, UINT, TIMERPROC);
SetTimerFn g_realSetTimer;

UINT_PTR WINAPI RecordSetTimer(HWND window, UINT_PTR id, UINT period, TIMERPROC proc) {
    g_timers.push_back({window, id, period});
    return g_realSetTimer(window, id, period, proc);
}

struct PopupCall {
    HMENU menu;
    UINT flags;
    int x, y;
    HWND owner;
};
std::vector<PopupCall> g_popups;

BOOL WINAPI RecordPopup(HMENU menu, UINT flags, int x, int y, int, HWND owner, const RECT*) {
    g_popups.push_back({menu, flags, x, y, owner});
    return FALSE; // closed without a choice
}

std::vector<int> FramesSent(size_t from) {
    std::vector<int> frames;
    for (size_t i = from; i < g_trayCalls.size(); ++i)
        frames.push_back(static_cast<int>(reinterpret_cast<UINT_PTR>(g_trayCalls[i].data.hIcon)) -
                         0x5000);
    return frames;
}

TEST_F(TrayTest, FirstFrameAddsLaterOnesModify) {
    SetTrayFrame(0);
    SetTrayFrame(5);
    ASSERT_EQ(2u, g_trayCalls.size());
    const NOTIFYICONDATAA& added = g_trayCalls[0].data;
    EXPECT_EQ(static_cast<DWORD>(NIM_ADD), g_trayCalls[0].message);
    EXPECT_EQ(ByBuild(488u, 504u), added.cbSize);
    EXPECT_EQ(window_, added.hWnd);
    EXPECT_EQ(0u, added.uID);
    EXPECT_EQ(static_cast<UINT>(WM_USER), added.uCallbackMessage);
    EXPECT_EQ(7u, added.uFlags);
    EXPECT_EQ(FakeFrame(0), added.hIcon);
    EXPECT_STREQ("Zelvantic Desktop Agent v1.5", added.szTip);
    EXPECT_EQ(static_cast<DWORD>(NIM_MODIFY), g_trayCalls[1].message);
    EXPECT_EQ(FakeFrame(5), g_trayCalls[1].data.hIcon);

    // The shell came back after a restart: the icon is added again, with the frame it shows now.
    SendMessageA(window_, g_agent.taskbarCreatedMessage, 0, 0);
    ASSERT_EQ(3u, g_trayCalls.size());
    EXPECT_EQ(static_cast<DWORD>(NIM_ADD), g_trayCalls[2].message);
    EXPECT_EQ(FakeFrame(5), g_trayCalls[2].data.hIcon);

    DestroyWindow(window_);
    ASSERT_EQ(4u, g_trayCalls.size());
    EXPECT_EQ(static_cast<DWORD>(NIM_DELETE), g_trayCalls[3].message);
    EXPECT_EQ(window_, g_trayCalls[3].data.hWnd);
}

TEST_F(TrayTest, ShellWithoutBalloonsGetsTheShortRecord) {
    UseShortRecord();
    SetTrayFrame(0);
    ASSERT_EQ(1u, g_trayCalls.size());
    EXPECT_EQ(ByBuild(88u, 104u), g_trayCalls[0].data.cbSize);
    EXPECT_STREQ("Zelvantic Desktop Agent v1.5", g_trayCalls[0].data.szTip);
}

// Frames 1 to 27 at a tick each, 27 kept for the wrap tick, then round again from 1.
TEST_F(TrayTest, AnimationShowsOneToTwentySevenHoldsOnWrapThenOne) {
    SetTrayFrame(0);
    size_t start = g_trayCalls.size();
    for (int tick = 0; tick < 2 * 28 + 1; ++tick)
        AdvanceTrayAnimation();
    std::vector<int> expected;
    for (int turn = 0; turn < 2; ++turn)
        for (int f = 1; f <= 27; ++f)
            expected.push_back(f); // the wrap tick after 27 sends nothing
    expected.push_back(1);
    EXPECT_EQ(expected, FramesSent(start));

    start = g_trayCalls.size();
    ResetTrayAnimation();
    ResetTrayAnimation(); // already at rest: nothing more to send
    EXPECT_EQ(std::vector<int>{0}, FramesSent(start));
}

TEST_F(TrayTest, NoticeTravelsWithEveryFrameUntilTheShellDropsIt) {
    ShowTrayNotice("First notice", kNoticeWarning);      // adds the icon, then shows the notice
    ShowTrayNotice("Second notice", kNoticeInformation); // replaces the first
    AdvanceTrayAnimation();
    AdvanceTrayAnimation();
    ASSERT_EQ(5u, g_trayCalls.size());
    EXPECT_EQ(static_cast<DWORD>(NIM_ADD), g_trayCalls[0].message);
    EXPECT_EQ(static_cast<DWORD>(NIM_MODIFY), g_trayCalls[1].message);
    EXPECT_STREQ("First notice", g_trayCalls[1].data.szInfo);
    EXPECT_EQ(2u, g_trayCalls[1].data.dwInfoFlags);
    for (size_t i = 2; i < 5; ++i) {
        const NOTIFYICONDATAA& d = g_trayCalls[i].data;
        EXPECT_EQ(static_cast<DWORD>(NIM_MODIFY), g_trayCalls[i].message);
        EXPECT_EQ(0x17u, d.uFlags);
        EXPECT_STREQ("Second notice", d.szInfo);
        EXPECT_STREQ("Zelvantic", d.szInfoTitle);
        EXPECT_EQ(1u, d.dwInfoFlags);
        EXPECT_EQ(4u, d.uTimeout);
        EXPECT_EQ(0u, d.uID);
        EXPECT_EQ(window_, d.hWnd);
    }

    for (LPARAM gone : {0x404, 0x405}) {
        ShowTrayNotice("Again", kNoticeError);
        EXPECT_EQ(0, SendMessageA(window_, WM_USER, 0, gone));
        size_t cleared = g_trayCalls.size();
        AdvanceTrayAnimation();
        ASSERT_EQ(cleared + 1, g_trayCalls.size());
        for (size_t i = cleared - 1; i <= cleared; ++i) {
            EXPECT_EQ(7u, g_trayCalls[i].data.uFlags) << gone;
            EXPECT_STREQ("", g_trayCalls[i].data.szInfo);
            EXPECT_EQ(0u, g_trayCalls[i].data.dwInfoFlags);
        }
    }
}

// Creates a "Shell_TrayWnd" with a "TrayNotifyWnd" child, as an old taskbar has, along the
// screen's bottom or its top.
struct OldTaskbar {
    explicit OldTaskbar(int top = 728) {
        WNDCLASSA wc;
        ZeroMemory(&wc, sizeof wc);
        wc.lpfnWndProc = DefWindowProcA;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "Shell_TrayWnd";
        RegisterClassA(&wc);
        wc.lpszClassName = "TrayNotifyWnd";
        RegisterClassA(&wc);
        wc.lpszClassName = "ReBarWindow32x";
        RegisterClassA(&wc);
        taskbar = CreateWindowExA(WS_EX_TOOLWINDOW, "Shell_TrayWnd", nullptr, WS_POPUP, 0, top,
                                  1024, 40, nullptr, nullptr, wc.hInstance, nullptr);
        CreateWindowExA(0, "ReBarWindow32x", nullptr, WS_CHILD, 0, 0, 800, 40, taskbar, nullptr,
                        wc.hInstance, nullptr);
        notifyArea = CreateWindowExA(0, "TrayNotifyWnd", nullptr, WS_CHILD, 900, 2, 120, 36,
                                     taskbar, nullptr, wc.hInstance, nullptr);
    }
    ~OldTaskbar() { DestroyWindow(taskbar); }
    HWND taskbar;
    HWND notifyArea;
};

std::vector<HWND> OpenBalloons() {
    HWND windows[16];
    int n = CopyOpenBalloons(windows, 16);
    return std::vector<HWND>(windows, windows + (n < 16 ? n : 16));
}

TEST_F(TrayTest, WithoutShellBalloonsNoticesAreBalloonWindowsOverTheNotificationArea) {
    UseShortRecord();
    // No notification area known: notices are dropped.
    ShowTrayNotice("Nowhere to point", kNoticeWarning);
    EXPECT_TRUE(OpenBalloons().empty());

    OldTaskbar old;
    g_agent.notifyAreaWindow = FindNotifyAreaWindow();
    ASSERT_EQ(old.notifyArea, g_agent.notifyAreaWindow);
    RECT area;
    GetWindowRect(old.notifyArea, &area);

    ShowTrayNotice("First", kNoticeWarning);
    g_timers.clear();
    {
        ImportHook timers("user32.dll", "SetTimer", reinterpret_cast<void*>(RecordSetTimer));
        ASSERT_TRUE(timers.Active());
        g_realSetTimer = timers.Real<SetTimerFn>();
        ShowTrayNotice("Second replaces it", kNoticeInformation);
    }
    std::vector<HWND> open = OpenBalloons();
    ASSERT_EQ(1u, open.size());
    // The balloon hides itself after ten seconds.
    ASSERT_EQ(1u, g_timers.size());
    EXPECT_EQ(open[0], g_timers[0].window);
    EXPECT_EQ(1u, g_timers[0].id);
    EXPECT_EQ(10000u, g_timers[0].period);
    char title[32] = {0};
    GetWindowTextA(open[0], title, sizeof title);
    EXPECT_STREQ("Zelvantic", title);
    RECT balloon;
    GetWindowRect(open[0], &balloon);
    int anchorX = area.right - (area.right - area.left + 36) / 2;
    EXPECT_LE(balloon.left, anchorX);
    EXPECT_GE(balloon.right, anchorX);
    // Above the taskbar, its tail reaching down to the anchor at the notification area's bottom.
    EXPECT_LT(balloon.top, area.top);
    EXPECT_GE(balloon.bottom, area.bottom - 2);
    EXPECT_LE(balloon.bottom, area.bottom + 4);
    EXPECT_TRUE(IsWindowVisible(open[0]));
    for (const TrayCall& call : g_trayCalls) // not into a record the shell cannot show
        EXPECT_EQ(0u, call.data.uFlags & NIF_INFO);

    ShowTrayNotice(nullptr, kNoticeInformation); // no text: nothing shown, nothing closed
    EXPECT_EQ(1u, OpenBalloons().size());
    HideAllBalloons();
    EXPECT_TRUE(OpenBalloons().empty());
}

// The old shell ended and a new one came up, its taskbar at the top: its broadcast, or failing that
// the next notice, finds the new notification area, and the notice is shown hanging from it.
TEST_F(TrayTest, WithoutShellBalloonsNoticesFollowARestartedShell) {
    UseShortRecord();
    SetTrayFrame(0);
    for (bool broadcast : {true, false}) {
        {
            OldTaskbar old;
            g_agent.notifyAreaWindow = FindNotifyAreaWindow();
            ASSERT_EQ(old.notifyArea, g_agent.notifyAreaWindow);
        } // the old shell ends, and its windows with it
        OldTaskbar restarted(0);
        if (broadcast) SendMessageA(window_, g_agent.taskbarCreatedMessage, 0, 0);
        ShowTrayNotice(kSyncSucceeded, kNoticeInformation);
        std::vector<HWND> open = OpenBalloons();
        ASSERT_EQ(1u, open.size()) << "broadcast " << broadcast;
        RECT area, balloon;
        GetWindowRect(restarted.notifyArea, &area);
        GetWindowRect(open[0], &balloon);
        int anchorX = area.right - (area.right - area.left + 36) / 2;
        EXPECT_LE(balloon.left, anchorX);
        EXPECT_GE(balloon.right, anchorX);
        EXPECT_LE(balloon.top, area.bottom + 2) << "not hanging from the notification area";
        EXPECT_GE(balloon.top, area.bottom - 4);
        HideAllBalloons();
    }
    EXPECT_EQ(static_cast<DWORD>(NIM_ADD), g_trayCalls[1].message)
        << "the icon was not added again";
}

TEST_F(TrayTest, PopupMenuOpensAtTheCursorPreferringToFitVertically) {
    ASSERT_TRUE(SetCursorPos(700, 500));
    POINT cursor;
    ASSERT_TRUE(GetCursorPos(&cursor));
    g_popups.clear();
    {
        ImportHook popup("user32.dll", "TrackPopupMenu", reinterpret_cast<void*>(RecordPopup));
        ASSERT_TRUE(popup.Active());
        ShowPopupMenu();
    }
    ASSERT_EQ(1u, g_popups.size());
    EXPECT_EQ(g_agent.popupMenu, g_popups[0].menu);
    EXPECT_EQ(0x40u, g_popups[0].flags); // TPM_VERTICAL alone
    EXPECT_EQ(cursor.x, g_popups[0].x);
    EXPECT_EQ(cursor.y, g_popups[0].y);
    EXPECT_EQ(window_, g_popups[0].owner);
}

} // namespace
