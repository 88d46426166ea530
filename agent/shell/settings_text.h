// The settings values' text rules, apart from the registry so that they are tested natively.
#pragma once

// A flag's stored text ("1", "0", " 1", "abc", ...) read the way atol reads it: on when not 0.
bool ParseFlagText(const char* text);

// Registry statuses the flag rule tells apart (the values of ERROR_SUCCESS and
// ERROR_FILE_NOT_FOUND).
enum { kSettingRead = 0, kSettingAbsent = 2 };

// A flag is the user's own value when the user has one, even one that cannot be read; the
// machine-wide default, which the installer chose, only when the user has no value at all. Each
// status is how reading that side's value went; a text counts only where its status is
// kSettingRead.
bool ResolveFlag(long userStatus, const char* userText, long machineStatus,
                 const char* machineText);
