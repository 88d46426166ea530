#include <gtest/gtest.h>

#include <stdlib.h>
#include <time.h>

#include "agent/shell/daily_rules.h"

namespace {

// A wall-clock time in a zone utcHours east of UTC, as seconds since 1970.
time_t At(int year, int month, int day, int hour, int minute, int utcHours) {
    struct tm t = {};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    return timegm(&t) - utcHours * 3600;
}

// The runner fixes TZ=UTC; these cases cross the midnights of named zones.
void InZone(const char* zone) {
    setenv("TZ", zone, 1);
    tzset();
}

TEST(DailyRules, ADownloadIsDueOncePerLocalDateAndTheNextDayBeginsAtLocalMidnight) {
    InZone("Europe/Ljubljana"); // UTC+1, summer UTC+2
    const time_t morning = At(2026, 12, 7, 9, 0, +1);
    const struct {
        time_t now, last;
        bool due;
    } cases[] = {
        {morning, 0, true},
        {At(2026, 12, 7, 23, 59, +1), morning, false},
        {At(2026, 12, 7, 0, 0, +1), morning, false},
        {At(2026, 12, 8, 0, 30, +1), At(2026, 12, 7, 23, 30, +1), true}, // one UTC date
        {At(2026, 12, 10, 9, 0, +1), morning, true},
        {At(2026, 12, 6, 9, 0, +1), morning, false}, // the clock set back a day
        {At(2026, 12, 5, 23, 59, +1), morning, true},
        {morning, At(2027, 12, 7, 9, 0, +1), true}, // made with the clock a year ahead
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.due, IsDownloadDue(c.now, c.last)) << c.now << " after " << c.last;

    // Days of 24, 23 (29 March 2026) and 25 hours (25 October 2026).
    EXPECT_EQ(At(2026, 12, 8, 0, 0, +1), NextLocalDayStart(At(2026, 12, 8, 0, 0, +1) - 1));
    EXPECT_EQ(At(2026, 3, 30, 0, 0, +2), NextLocalDayStart(At(2026, 3, 29, 0, 0, +1)));
    EXPECT_EQ(At(2026, 10, 26, 0, 0, +1), NextLocalDayStart(At(2026, 10, 25, 0, 0, +2)));
    // São Paulo's summer time of 2018 began at midnight: 4 November began at 01:00 (UTC-2).
    InZone("America/Sao_Paulo");
    EXPECT_EQ(At(2018, 11, 4, 1, 0, -2), NextLocalDayStart(At(2018, 11, 3, 12, 0, -3)));
    InZone("UTC");
}

TEST(DailyRules, AWaitStartsAgainWhenTheClockGoesBack) {
    time_t since = 1800000000;
    EXPECT_FALSE(WaitIsOver(since + 900, &since, 900.0));
    EXPECT_TRUE(WaitIsOver(since + 901, &since, 900.0));
    EXPECT_FALSE(WaitIsOver(since - 86400, &since, 900.0));
    EXPECT_TRUE(WaitIsOver(1800000000 - 86400 + 901, &since, 900.0));
}

} // namespace
