#include <gtest/gtest.h>

#include "agent/shell/settings_text.h"

TEST(SettingsText, FlagsReadLikeAtol) {
    for (const char* on : {"1", " 1", "2", "-1"})
        EXPECT_TRUE(ParseFlagText(on)) << on;
    for (const char* off : {"0", "abc", ""})
        EXPECT_FALSE(ParseFlagText(off)) << off;
    EXPECT_FALSE(ParseFlagText(nullptr));
}

// The user's value, when the user has one, wins over the installer's default; the default counts
// only when the user has none. Statuses as the registry gives them: 0 read, 2 no such value,
// 5 access denied, 234 more data (a value longer than a flag).
TEST(SettingsText, TheUsersOwnFlagWinsAndTheMachineDefaultFillsIn) {
    struct Case {
        long userStatus;
        const char* user;
        long machineStatus;
        const char* machine;
        bool on;
    } cases[] = {
        {0, "1", 2, "", true},  {0, "0", 0, "1", false},  {0, "abc", 0, "1", false},
        {0, "", 0, "1", false}, {2, "", 0, "1", true},    {2, "", 0, "0", false},
        {2, "", 0, " 2", true}, {2, "", 2, "", false},    {2, "", 5, "1", false},
        {5, "", 0, "1", false}, {234, "", 0, "1", false}, {2, "1", 2, "1", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.on, ResolveFlag(c.userStatus, c.user, c.machineStatus, c.machine))
            << "user " << c.userStatus << " '" << c.user << "', machine " << c.machineStatus << " '"
            << c.machine << "'";
}
