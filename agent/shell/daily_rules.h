// The calendar of the daily update, apart from Windows so that it is tested natively. A day is a
// local calendar date as the C library gives it (the system's time zone, or TZ where it is set).
#pragma once
#include <time.h>

// t's local date as a count of days since 1970-01-01; false when the calendar cannot place t.
bool LocalDayOf(time_t t, long long* day);

// Whether a download is due at now, the last completed one made at last (0: none yet): once per
// local date. A last download dated after tomorrow was made under a clock that was wrong then.
bool IsDownloadDue(time_t now, time_t last);

// The first second of the local date after now's; 0 when the calendar cannot place now.
time_t NextLocalDayStart(time_t now);

// Whether more than seconds have passed since *since. A clock set back behind *since starts the
// wait again from now, rather than holding it off until the clock catches up.
bool WaitIsOver(time_t now, time_t* since, double seconds);
