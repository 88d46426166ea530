#include <gtest/gtest.h>

#include <string.h>

#include "agent/shell/startup_text.h"
#include "agent/shell/tray_rules.h"

TEST(SilentGate, OnlyTheWholeWordInAnyCase) {
    EXPECT_TRUE(IsSilentCommandLine("-silent"));
    EXPECT_TRUE(IsSilentCommandLine("-SILENT"));
    EXPECT_TRUE(IsSilentCommandLine("-Silent"));
    EXPECT_FALSE(IsSilentCommandLine("-silent "));
    EXPECT_FALSE(IsSilentCommandLine(" -silent"));
    EXPECT_FALSE(IsSilentCommandLine("-silentx"));
    EXPECT_FALSE(IsSilentCommandLine("-silen"));
    EXPECT_FALSE(IsSilentCommandLine("/silent"));
    EXPECT_FALSE(IsSilentCommandLine(""));
    EXPECT_FALSE(IsSilentCommandLine(nullptr));
}

TEST(AgentFolder, CutAtTheLastSeparatorWithoutKeepingIt) {
    struct Case {
        const char* path;
        const char* folder;
    } cases[] = {
        {"C:\\Dir\\agent.exe", "C:\\Dir"},
        {"C:\\agent.exe", "C:"},
        {"C:\\A\\B/agent.exe", "C:\\A\\B"},
        {"\\\\server\\share\\agent.exe", "\\\\server\\share"},
        {"agent.exe", "\\"},
        {"", "\\"},
        {"C:\\Dir\\", "C:\\Dir"},
    };
    for (const Case& c : cases) {
        char buffer[64];
        strcpy(buffer, c.path);
        CutToFolder(buffer);
        EXPECT_STREQ(c.folder, buffer) << c.path;
    }
}

TEST(TrayRules, BalloonShellsAreFrom4_90On) {
    EXPECT_FALSE(ShellVersionHasBalloons(4, 0));
    EXPECT_FALSE(ShellVersionHasBalloons(4, 10));
    EXPECT_FALSE(ShellVersionHasBalloons(4, 69));
    EXPECT_TRUE(ShellVersionHasBalloons(4, 70));
    EXPECT_TRUE(ShellVersionHasBalloons(4, 90));
    EXPECT_TRUE(ShellVersionHasBalloons(5, 0));
    EXPECT_TRUE(ShellVersionHasBalloons(6, 1));
}

TEST(TrayRules, AnchorLiesLeftOfTheMiddleByEighteen) {
    EXPECT_EQ(1024 - (1024 - 900 + 36) / 2, NotifyAreaAnchorX(900, 1024));
    EXPECT_EQ(762, NotifyAreaAnchorX(700, 860));
    EXPECT_EQ(-18, NotifyAreaAnchorX(0, 0));
    // Truncation toward zero: (1 + 36) / 2 is 18.
    EXPECT_EQ(-17, NotifyAreaAnchorX(0, 1));
    EXPECT_EQ(-26, NotifyAreaAnchorX(-16, -1)); // -1 - (15 + 36) / 2
    // No overflow for absurd rectangles.
    int x = NotifyAreaAnchorX(-2147483647, 2147483647);
    EXPECT_LT(x, 0);
}
