#include "agent/shell/settings_text.h"

#include <stdlib.h>

bool ParseFlagText(const char* text) {
    return text && atol(text) != 0;
}

bool ResolveFlag(long userStatus, const char* userText, long machineStatus,
                 const char* machineText) {
    if (userStatus == kSettingRead) return ParseFlagText(userText);
    if (userStatus != kSettingAbsent) return false; // the user's own, unreadable: off
    return machineStatus == kSettingRead && ParseFlagText(machineText);
}
