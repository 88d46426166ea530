// The About box: placement, caption, the logo on the dialog's face, animation, closing, reopening.
#include <gtest/gtest.h>

#include "agent/gif/gif32.h"
#include "agent/shell/about.h"
#include "agent/shell/agent_state.h"
#include "tests/win/common/resource_counts.h"
#include "tests/win/common/ui_helpers.h"

namespace {

class AboutBox : public ::testing::Test {
  protected:
    void SetUp() override {
        g_agent.instance = GetModuleHandleA(nullptr);
        g_agent.mainWindow = MakeParent();
        threads = ThreadCount();
    }
    void TearDown() override {
        if (g_agent.aboutWindow) DestroyWindow(g_agent.aboutWindow);
        DestroyWindow(g_agent.mainWindow);
        g_agent.mainWindow = nullptr;
        EXPECT_EQ(nullptr, g_agent.aboutWindow);
        EXPECT_EQ(nullptr, g_agent.aboutPicture);
    }
    int threads = 0;
};

RECT ClientRectOf(HWND child, HWND dialog) {
    RECT r;
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, dialog, (POINT*)&r, 2);
    return r;
}

int CountChildren(HWND parent) {
    int count = 0;
    for (HWND c = GetWindow(parent, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
        ++count;
    return count;
}

} // namespace

TEST_F(AboutBox, ShowsCentredWithCaptionAndLogo) {
    ShowAbout();
    HWND about = g_agent.aboutWindow;
    ASSERT_TRUE(about);
    ASSERT_TRUE(g_agent.aboutPicture);
    EXPECT_TRUE(IsWindowVisible(about));
    char caption[64];
    GetWindowTextA(about, caption, sizeof caption);
    EXPECT_STREQ("Zelvantic", caption);
    EXPECT_TRUE(GetWindowLongA(about, GWL_EXSTYLE) & WS_EX_TOOLWINDOW);

    RECT r, desktop;
    GetWindowRect(about, &r);
    GetWindowRect(GetDesktopWindow(), &desktop);
    EXPECT_EQ((desktop.right - (r.right - r.left)) / 2, r.left);
    EXPECT_EQ((desktop.bottom - (r.bottom - r.top)) / 2, r.top);

    // Resized to 300 x 100 and shown again: on a 1024 x 768 desktop it sits at (362, 334).
    if (desktop.right == 1024 && desktop.bottom == 768) {
        SetWindowPos(about, nullptr, 0, 0, 300, 100, SWP_NOZORDER | SWP_NOACTIVATE);
        ShowAbout();
        GetWindowRect(about, &r);
        EXPECT_EQ(362, r.left);
        EXPECT_EQ(334, r.top);
        EXPECT_EQ(300, r.right - r.left);
    } else {
        ADD_FAILURE() << "desktop is " << desktop.right << "x" << desktop.bottom;
    }

    HWND logo = g_agent.aboutPicture->Window();
    RECT at = ClientRectOf(logo, about);
    EXPECT_EQ(10, at.left);
    EXPECT_EQ(15, at.top);
    EXPECT_EQ(48, at.right - at.left);
    EXPECT_EQ(48, at.bottom - at.top);
    EXPECT_EQ(GetSysColor(COLOR_BTNFACE), g_agent.aboutPicture->Background());
    EXPECT_EQ(GetSysColor(COLOR_BTNFACE), g_agent.aboutPicture->CanvasPixel(0, 0));
}

TEST_F(AboutBox, ChoosingAboutAgainKeepsOneWorkingLogo) {
    ShowAbout();
    HWND about = g_agent.aboutWindow;
    Gif32* logo = g_agent.aboutPicture;
    ASSERT_TRUE(logo);
    int children = CountChildren(about);
    EXPECT_EQ(2, children); // the text and the logo
    Pump(300);
    int running = ThreadCount();
    EXPECT_EQ(threads + 1, running);

    ShowAbout();
    EXPECT_EQ(about, g_agent.aboutWindow);
    EXPECT_EQ(logo, g_agent.aboutPicture);
    EXPECT_EQ(children, CountChildren(about));
    EXPECT_EQ(running, ThreadCount());
    EXPECT_TRUE(logo->HasThread());
}

TEST_F(AboutBox, CloseBoxEndsEverythingAndReopeningBuildsAnew) {
    ShowAbout();
    HWND first = g_agent.aboutWindow;
    ASSERT_TRUE(first);
    HWND firstLogo = g_agent.aboutPicture->Window();
    Pump(200);
    // The close box: the dialog gets SC_CLOSE, then the IDCANCEL command.
    SendMessageA(first, WM_SYSCOMMAND, SC_CLOSE, 0);
    Pump(100);
    EXPECT_FALSE(IsWindow(first));
    EXPECT_FALSE(IsWindow(firstLogo));
    EXPECT_EQ(nullptr, g_agent.aboutWindow);
    EXPECT_EQ(nullptr, g_agent.aboutPicture);
    EXPECT_EQ(threads, ThreadCount());

    ShowAbout();
    ASSERT_TRUE(g_agent.aboutWindow);
    ASSERT_TRUE(g_agent.aboutPicture);
    EXPECT_TRUE(IsWindowVisible(g_agent.aboutWindow));
    EXPECT_TRUE(IsWindow(g_agent.aboutPicture->Window()));
    EXPECT_TRUE(WaitFor([&] { return g_agent.aboutPicture->CurrentFrame() > 0; }, 1500));
}

std::vector<HWND> g_destroyed;

LRESULT CALLBACK RecordDestroy(int code, WPARAM wParam, LPARAM lParam) {
    const CWPSTRUCT* m = (const CWPSTRUCT*)lParam;
    if (code == HC_ACTION && m->message == WM_DESTROY &&
        (m->hwnd == g_agent.aboutWindow || m->hwnd == g_agent.mainWindow ||
         (g_agent.aboutPicture && m->hwnd == g_agent.aboutPicture->Window())))
        g_destroyed.push_back(m->hwnd);
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

// As when the agent ends with the box open: the box and its logo go before the main window.
TEST_F(AboutBox, DestroyingTheOwnerClosesTheDialogFirst) {
    ShowAbout();
    HWND about = g_agent.aboutWindow;
    ASSERT_TRUE(about);
    HWND logo = g_agent.aboutPicture->Window();
    HWND owner = g_agent.mainWindow;
    Pump(150);
    g_destroyed.clear();
    HHOOK hook = SetWindowsHookExA(WH_CALLWNDPROC, RecordDestroy, nullptr, GetCurrentThreadId());
    DestroyWindow(owner);
    UnhookWindowsHookEx(hook);
    EXPECT_FALSE(IsWindow(about));
    std::vector<HWND> expected = {about, logo, owner};
    EXPECT_EQ(expected, g_destroyed);
    EXPECT_EQ(nullptr, g_agent.aboutWindow);
    EXPECT_EQ(nullptr, g_agent.aboutPicture);
    EXPECT_TRUE(WaitFor([&] { return ThreadCount() == threads; }, 1000));
}

TEST_F(AboutBox, NoDialogWhenTheTemplateIsMissing) {
    g_agent.instance = GetModuleHandleA("kernel32.dll");
    ShowAbout();
    EXPECT_EQ(nullptr, g_agent.aboutWindow);
    EXPECT_EQ(nullptr, g_agent.aboutPicture);
}
