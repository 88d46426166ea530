#include "agent/shell/settings_text.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

bool ParseFlagText(const char* text) {
    return text && atol(text) != 0;
}

bool ResolveFlag(long userStatus, const char* userText, long machineStatus,
                 const char* machineText) {
    if (userStatus == kSettingRead) return ParseFlagText(userText);
    if (userStatus != kSettingAbsent) return false; // the user's own, unreadable: off
    return machineStatus == kSettingRead && ParseFlagText(machineText);
}

void LocalDateText(time_t t, char* out) {
    if (t == 0) {
        strcpy(out, " ");
        return;
    }
    struct tm local;
#ifdef _WIN32
    struct tm* p = localtime(&t);
    if (!p) {
        strcpy(out, "?");
        return;
    }
    local = *p;
#else
    if (!localtime_r(&t, &local)) {
        strcpy(out, "?");
        return;
    }
#endif
    // Bounded so that the text always fits its 16 bytes.
    snprintf(out, 16, "%02d%02d%04d", (local.tm_mon + 1) % 100, local.tm_mday % 100,
             (local.tm_year + 1900) % 100000);
}

bool IsSameLocalDay(time_t now, time_t last) {
    char a[16], b[16];
    LocalDateText(now, a);
    LocalDateText(last, b);
    return strcmp(a, b) == 0;
}
