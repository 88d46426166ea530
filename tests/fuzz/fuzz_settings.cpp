// Any bytes as settings values and as the agent's command line: the flag text, the calendar days
// behind "lastupdate", and the "-silent" gate.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include "agent/shell/daily_rules.h"
#include "agent/shell/settings_text.h"
#include "agent/shell/startup_text.h"

namespace {

void Check(bool ok) {
    if (!ok) abort();
}

// On exactly when the number that atol would read is not zero: blanks, a sign, then a run of
// digits of which at least one is not 0 (a number too large for long still reads as non-zero).
bool FlagOracle(const char* text) {
    while (*text == ' ' || (*text >= '\t' && *text <= '\r'))
        ++text;
    if (*text == '+' || *text == '-') ++text;
    for (; *text >= '0' && *text <= '9'; ++text)
        if (*text != '0') return true;
    return false;
}

char* ExactText(const uint8_t* data, size_t size) {
    char* text = static_cast<char*>(malloc(size + 1));
    memcpy(text, data, size);
    text[size] = 0;
    return text;
}

int64_t Take64(const uint8_t* data) {
    uint64_t v = 0;
    for (int i = 0; i < 8; ++i)
        v = v << 8 | data[i];
    return static_cast<int64_t>(v);
}

void CheckDays(const uint8_t* data, size_t size) {
    if (size < 16) return;
    // Within about 34,000 years of 1970, where every C runtime has a calendar.
    const int64_t kRange = int64_t(1) << 40;
    time_t a = static_cast<time_t>(Take64(data) % kRange);
    time_t b = static_cast<time_t>(Take64(data + 8) % kRange);
    long long day = 0, next = 0, before = 0;
    if (!LocalDayOf(a, &day)) return;
    // A download made now is today's; the next day's first second wants another.
    Check(IsDownloadDue(a, a) == (a == 0));
    time_t start = NextLocalDayStart(a);
    Check(start > a && start - a <= 2 * 86400 && LocalDayOf(start, &next) && next > day &&
          LocalDayOf(start - 1, &before) && before <= day);
    // No day, whatever the zone and its summer time, spans two: far apart, one is always due.
    if (a != 0 && b != 0 && (a - b > 3 * 86400 || b - a > 3 * 86400)) Check(IsDownloadDue(a, b));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 4096) return 0;

    // As the registry hands a flag over: at most 4 data bytes after a zeroed 5-byte buffer.
    char stored[5] = {0, 0, 0, 0, 0};
    memcpy(stored, data, size < 4 ? size : 4);
    Check(ParseFlagText(stored) == FlagOracle(stored));

    char* text = ExactText(data, size);
    Check(ParseFlagText(text) == FlagOracle(text));
    Check(IsSilentCommandLine(text) == (strcasecmp(text, "-silent") == 0));
    free(text);

    CheckDays(data, size);
    return 0;
}
