#include <gtest/gtest.h>

#include <string.h>

#include "agent/shell/startup_text.h"
#include "agent/shell/tray_rules.h"

TEST(SilentGate, OnlyTheWholeWordInAnyCase) {
    for (const char* silent : {"-silent", "-SILENT", "-Silent"})
        EXPECT_TRUE(IsSilentCommandLine(silent)) << silent;
    for (const char* other : {"-silent ", " -silent", "-silentx", "-silen", "/silent", ""})
        EXPECT_FALSE(IsSilentCommandLine(other)) << other;
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
    // major, minor, whether it has balloons
    const int kShells[][3] = {{4, 0, 0},  {4, 10, 0}, {4, 69, 0}, {4, 70, 1},
                              {4, 90, 1}, {5, 0, 1},  {6, 1, 1}};
    for (const auto& v : kShells)
        EXPECT_EQ(v[2] != 0, ShellVersionHasBalloons(v[0], v[1])) << v[0] << "." << v[1];
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
