#include "agent/shell/daily_rules.h"

namespace {

const long long kSecondsPerDay = 86400;

// Days from 1970-01-01 to a proleptic Gregorian date (month 1 to 12).
long long DaysFromCivil(long long year, unsigned month, unsigned day) {
    year -= month <= 2;
    const long long era = (year >= 0 ? year : year - 399) / 400;
    const unsigned yearOfEra = static_cast<unsigned>(year - era * 400);
    const unsigned dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + static_cast<long long>(dayOfEra) - 719468;
}

} // namespace

bool LocalDayOf(time_t t, long long* day) {
    struct tm local;
#ifdef _WIN32
    struct tm* p = localtime(&t); // the UI thread is its only caller
    if (!p) return false;
    local = *p;
#else
    if (!localtime_r(&t, &local)) return false;
#endif
    if (local.tm_mon < 0 || local.tm_mon > 11 || local.tm_mday < 1 || local.tm_mday > 31)
        return false;
    *day = DaysFromCivil(local.tm_year + 1900LL, static_cast<unsigned>(local.tm_mon + 1),
                         static_cast<unsigned>(local.tm_mday));
    return true;
}

bool IsDownloadDue(time_t now, time_t last) {
    if (last == 0) return true;
    long long today = 0, lastDay = 0;
    if (!LocalDayOf(now, &today)) return false; // no calendar, no days to count
    if (!LocalDayOf(last, &lastDay)) return true;
    // A clock set back a day must not fetch that day again; one a year ahead must not hold off
    // every download until that date comes round.
    return today > lastDay || lastDay > today + 1;
}

time_t NextLocalDayStart(time_t now) {
    long long today = 0, day = 0;
    if (!LocalDayOf(now, &today)) return 0;
    // Summer time makes days of 23 or 25 hours, and in some zones midnight itself is skipped:
    // the first second whose date is a later one is searched for, not counted to.
    time_t before = now, after = now + 2 * kSecondsPerDay;
    if (!LocalDayOf(after, &day) || day <= today) return 0;
    while (after - before > 1) {
        time_t middle = before + (after - before) / 2;
        if (!LocalDayOf(middle, &day)) return 0;
        if (day > today)
            after = middle;
        else
            before = middle;
    }
    return after;
}

bool WaitIsOver(time_t now, time_t* since, double seconds) {
    if (now < *since) {
        *since = now;
        return false;
    }
    return difftime(now, *since) > seconds;
}
