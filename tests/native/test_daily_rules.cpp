#include <gtest/gtest.h>

#include <stdlib.h>
#include <time.h>

#include <string>

#include "agent/shell/daily_rules.h"

namespace {

// A local wall-clock time in a zone utcHours east of UTC, as seconds since 1970.
time_t At(int year, int month, int day, int hour, int minute, int utcHours) {
    struct tm t = {};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    return timegm(&t) - utcHours * 3600;
}

// The test runner fixes TZ=UTC; each case names the zone whose midnights it crosses.
class LocalDays : public ::testing::Test {
  protected:
    void InZone(const char* zone) {
        setenv("TZ", zone, 1);
        tzset();
    }
    void SetUp() override {
        const char* tz = getenv("TZ");
        saved_ = tz ? tz : "";
        InZone("Europe/Ljubljana"); // UTC+1, summer UTC+2
    }
    void TearDown() override { InZone(saved_.c_str()); }

  private:
    std::string saved_;
};

TEST_F(LocalDays, ADownloadIsDueOncePerLocalDate) {
    const time_t morning = At(2026, 12, 7, 9, 0, +1);
    EXPECT_TRUE(IsDownloadDue(morning, 0)) << "never downloaded";
    EXPECT_FALSE(IsDownloadDue(At(2026, 12, 7, 23, 59, +1), morning));
    EXPECT_FALSE(IsDownloadDue(At(2026, 12, 7, 0, 0, +1), morning)) << "later the same day";
    // Midnight here falls at 23:00 UTC: the date is the local one.
    EXPECT_TRUE(IsDownloadDue(At(2026, 12, 8, 0, 30, +1), At(2026, 12, 7, 23, 30, +1)));
    EXPECT_TRUE(IsDownloadDue(At(2026, 12, 10, 9, 0, +1), morning)) << "three days asleep";
    EXPECT_TRUE(IsDownloadDue(At(2027, 12, 7, 9, 0, +1), morning)) << "a year on";

    // The clock set back a day: that day is not fetched again, nor is today once it is put right.
    EXPECT_FALSE(IsDownloadDue(At(2026, 12, 6, 9, 0, +1), morning));
    EXPECT_FALSE(IsDownloadDue(At(2026, 12, 6, 0, 0, +1), morning));
    // A download dated two days or a year ahead was made while the clock was wrong.
    EXPECT_TRUE(IsDownloadDue(At(2026, 12, 5, 23, 59, +1), morning));
    EXPECT_TRUE(IsDownloadDue(morning, At(2027, 12, 7, 9, 0, +1)));
}

TEST_F(LocalDays, TheNextDayBeginsAtLocalMidnightHoweverLongTheDay) {
    EXPECT_EQ(At(2026, 12, 8, 0, 0, +1), NextLocalDayStart(At(2026, 12, 7, 12, 0, +1)));
    EXPECT_EQ(At(2026, 12, 8, 0, 0, +1), NextLocalDayStart(At(2026, 12, 8, 0, 0, +1) - 1));
    EXPECT_EQ(At(2026, 12, 9, 0, 0, +1), NextLocalDayStart(At(2026, 12, 8, 0, 0, +1)));
    // 29 March 2026 has 23 hours (02:00 becomes 03:00), 25 October 26 (03:00 becomes 02:00).
    EXPECT_EQ(At(2026, 3, 29, 0, 0, +1), NextLocalDayStart(At(2026, 3, 28, 12, 0, +1)));
    EXPECT_EQ(At(2026, 3, 30, 0, 0, +2), NextLocalDayStart(At(2026, 3, 29, 0, 0, +1)));
    EXPECT_EQ(At(2026, 10, 26, 0, 0, +1), NextLocalDayStart(At(2026, 10, 25, 0, 0, +2)));

    // São Paulo's summer time of 2018 began at midnight: 4 November began at 01:00 (UTC-2).
    InZone("America/Sao_Paulo");
    EXPECT_EQ(At(2018, 11, 4, 1, 0, -2), NextLocalDayStart(At(2018, 11, 3, 12, 0, -3)));
}

TEST(DailyRules, AWaitIsOverAfterItsSecondsAndStartsAgainWhenTheClockGoesBack) {
    time_t since = 1800000000;
    EXPECT_FALSE(WaitIsOver(since + 900, &since, 900.0));
    EXPECT_TRUE(WaitIsOver(since + 901, &since, 900.0));
    EXPECT_TRUE(WaitIsOver(since + 365 * 86400, &since, 900.0)) << "a clock a year ahead";
    EXPECT_EQ(1800000000, since);

    const time_t dayBefore = since - 86400;
    EXPECT_FALSE(WaitIsOver(dayBefore, &since, 900.0));
    EXPECT_EQ(dayBefore, since) << "the wait was not started again";
    EXPECT_TRUE(WaitIsOver(dayBefore + 901, &since, 900.0));
}

} // namespace
