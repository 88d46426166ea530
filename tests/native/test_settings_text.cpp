#include <gtest/gtest.h>

#include <stdlib.h>

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

// The test runner fixes TZ=UTC; these use explicit zones to cross midnight in local time.
class LocalDay : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* tz = getenv("TZ");
        saved = tz ? tz : "";
        setenv("TZ", "Europe/Ljubljana", 1);
        tzset();
    }
    void TearDown() override {
        setenv("TZ", saved.c_str(), 1);
        tzset();
    }
    std::string saved;
};

TEST_F(LocalDay, DateTextIsMonthDayYear) {
    char text[16];
    LocalDateText(1078660800, text); // 2004-03-07 12:00 UTC
    EXPECT_STREQ("03072004", text);
    LocalDateText(0, text);
    EXPECT_STREQ(" ", text);
}

TEST_F(LocalDay, MidnightSeparatesDays) {
    // 2026-12-07 23:59 and 2026-12-08 00:01 local time (UTC+1).
    time_t before = 1796684340, after = 1796684460;
    EXPECT_FALSE(IsSameLocalDay(after, before));
    EXPECT_TRUE(IsSameLocalDay(before, before - 3600 * 23));
}

TEST_F(LocalDay, FutureTimeOnTodaysDateCountsAsToday) {
    time_t now = 1796641200; // 2026-12-07 12:00 local
    EXPECT_TRUE(IsSameLocalDay(now, now + 3600 * 11));
    EXPECT_FALSE(IsSameLocalDay(now, now + 3600 * 13));
    EXPECT_FALSE(IsSameLocalDay(now, 0));
}
