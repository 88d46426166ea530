// Runs agent.exe as a child process and reads the settings it shares with the conduit.
#pragma once
#include <windows.h>

#include <string>

#include "tests/win/common/agent_runner.h"
#include "tests/win/common/registry_helpers.h"

// A file, not a folder (file_helpers.h's FileExists takes folders too).
bool IsFile(const std::string& path);

// The stored data exactly: texts as characters, terminator and all, as far as it was stored.
bool ReadRaw(const char* name, std::string* data, DWORD* type);
bool SetRawText(const char* name, const std::string& data);
