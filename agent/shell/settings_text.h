// The settings values' text rules, apart from the registry so that they are tested natively.
#pragma once
#include <time.h>

// A flag's stored text ("1", "0", " 1", "abc", ...) read the way atol reads it: on when not 0.
bool ParseFlagText(const char* text);

// "MMDDYYYY" of the local calendar date, or " " for the time 0. out needs 16 bytes.
void LocalDateText(time_t t, char* out);

// True when both times fall on the same local calendar day (0 only matches 0).
bool IsSameLocalDay(time_t now, time_t last);
