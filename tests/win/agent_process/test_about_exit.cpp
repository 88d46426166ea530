// The agent itself: its About box shows the logo, and Exit while the box is open ends cleanly.
#include <gtest/gtest.h>

#include <time.h>

#include <string>
#include <vector>

#include "tests/win/agent_process/agent_harness.h"

namespace {

const UINT kAboutCommand = 40001;

HWND FindAbout(DWORD process) {
    for (HWND w = FindWindowExA(nullptr, nullptr, "#32770", "Zelvantic"); w;
         w = FindWindowExA(nullptr, w, "#32770", "Zelvantic")) {
        DWORD owner = 0;
        GetWindowThreadProcessId(w, &owner);
        if (owner == process) return w;
    }
    return nullptr;
}

// Starts a quiet agent (updated today, no balloons) and opens its About box.
void StartWithAbout(AgentProcess* agent, HWND* main, HWND* about) {
    std::string exe = BuiltAgentPath();
    ASSERT_TRUE(IsFile(exe)) << exe;
    EndStrayAgents();
    ASSERT_TRUE(SetDword("lastupdate", (DWORD)time(nullptr)));
    ASSERT_TRUE(SetFlagText("tooltip", "0"));
    ASSERT_TRUE(agent->Start(exe));
    *main = agent->WaitWindow(30000); // a first start in a fresh prefix is slow
    ASSERT_TRUE(*main);
    PostMessageA(*main, WM_COMMAND, kAboutCommand, 0);
    *about = nullptr;
    for (int i = 0; i < 200 && !(*about && IsWindowVisible(*about)); ++i) {
        Sleep(25);
        *about = FindAbout(agent->Id());
    }
    ASSERT_TRUE(*about && IsWindowVisible(*about));
}

} // namespace

TEST(AboutInAgent, ExitWithTheDialogOpenEndsCleanly) {
    AgentProcess agent;
    HWND main = nullptr, about = nullptr;
    StartWithAbout(&agent, &main, &about);
    if (HasFatalFailure()) return;
    // The logo from the agent's own resources: a 48 x 48 child beside the text.
    int logos = 0;
    for (HWND c = GetWindow(about, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        RECT r;
        GetWindowRect(c, &r);
        if (r.right - r.left == 48 && r.bottom - r.top == 48) ++logos;
    }
    EXPECT_EQ(1, logos);
    Sleep(300); // the logo is playing on its own thread

    // The animation thread is joined and the box gone before the agent's own exit code comes.
    PostMessageA(main, WM_COMMAND, kExitCommand, 0);
    DWORD code = 1;
    ASSERT_TRUE(agent.WaitExit(5000, &code));
    EXPECT_EQ(0u, code);
    EXPECT_FALSE(IsWindow(about));
    EXPECT_FALSE(IsWindow(main));
}

TEST(AboutInAgent, EscapeClosesTheBoxAndTheAgentRunsOn) {
    AgentProcess agent;
    HWND main = nullptr, about = nullptr;
    StartWithAbout(&agent, &main, &about);
    if (HasFatalFailure()) return;

    // A key posted to the box travels the agent's own message loop, as a real key press does.
    PostMessageA(about, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
    for (int i = 0; i < 200 && IsWindow(about); ++i)
        Sleep(25);
    EXPECT_FALSE(IsWindow(about));
    EXPECT_TRUE(IsWindow(main));

    PostMessageA(main, WM_COMMAND, kExitCommand, 0);
    DWORD code = 1;
    ASSERT_TRUE(agent.WaitExit(5000, &code));
    EXPECT_EQ(0u, code);
}
