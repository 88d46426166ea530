// The popup menu's check marks after the conduit's dialog has changed the two settings: the menu
// shows what the settings hold when it opens, and one click on an item turns its setting over.
#include "tests/win/agent_shell/shell_fixture.h"

#include <string.h>

#include "agent/shell/tray.h"
#include "tests/win/common/configure_host.h"
#include "tests/win/common/palm_desktop.h"

namespace {

// Waits for the open popup menu, notes the two marks it shows, then picks
// "&Settings" > "Show tray balloon tip" with the keyboard, as a user would.
struct MenuUser {
    bool opened = false, startupShown = false, tooltipShown = false;
    HANDLE thread = nullptr;
    static DWORD WINAPI Run(void* self) {
        MenuUser* user = static_cast<MenuUser*>(self);
        for (int i = 0; i < 250; ++i) {
            HWND menu = FindWindowA("#32768", nullptr);
            if (menu && IsWindowVisible(menu)) {
                user->opened = true;
                user->startupShown = Checked(40011);
                user->tooltipShown = Checked(40008);
                PostMessageA(menu, WM_CHAR, 's', 0);
                Sleep(100);
                PostMessageA(menu, WM_KEYDOWN, VK_DOWN, 0);
                Sleep(100);
                PostMessageA(menu, WM_KEYDOWN, VK_RETURN, 0);
                return 0;
            }
            Sleep(20);
        }
        return 0;
    }
};

using MenuMarks = ShellTest;

TEST_F(MenuMarks, MenuShowsWhatTheConduitWroteAndOneClickTurnsItOver) {
    ASSERT_TRUE(SetFlagText("startup", "0"));
    ASSERT_TRUE(SetFlagText("tooltip", "1"));
    InitMenuChecks(); // as at start-up
    ASSERT_FALSE(Checked(40011));
    ASSERT_TRUE(Checked(40008));

    // Box 412 "Auto run desktop agent when windows starts." and box 414 "Hide tray balloon tips."
    // are clicked in the conduit's dialog, which is then cancelled: they write at the click.
    ASSERT_EQ("", RunConfigureHost(PalmFolder(), BuildFolder(), [](HWND dialog) {
                  for (int box : {412, 414})
                      SendMessageA(GetDlgItem(dialog, box), BM_CLICK, 0, 0);
              }));
    ASSERT_EQ(std::string("1\0\0\0", 4), ReadRaw("startup"));
    ASSERT_EQ(std::string("0\0\0\0", 4), ReadRaw("tooltip"));

    MenuUser user;
    user.thread = CreateThread(nullptr, 0, MenuUser::Run, &user, 0, nullptr);
    ASSERT_TRUE(user.thread);
    PostMessageA(window_, WM_USER, 0, WM_RBUTTONDOWN); // a click on the tray icon
    // The menu runs on this thread; the chosen item arrives as a command afterwards.
    bool done = false;
    for (int i = 0; i < 500 && !done; ++i) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        done = WaitForSingleObject(user.thread, 0) == WAIT_OBJECT_0 &&
               ReadRaw("tooltip") != std::string("0\0\0\0", 4);
        Sleep(10);
    }
    WaitForSingleObject(user.thread, 5000);
    CloseHandle(user.thread);

    ASSERT_TRUE(user.opened) << "the popup menu never opened";
    EXPECT_TRUE(user.startupShown);
    EXPECT_FALSE(user.tooltipShown);
    EXPECT_EQ(std::string("1\0\0\0", 4), ReadRaw("tooltip"));
    EXPECT_TRUE(Checked(40008));
    EXPECT_EQ(std::string("1\0\0\0", 4), ReadRaw("startup"));
}

} // namespace
