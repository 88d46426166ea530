// What the conduit tests share: rates files, the settings the agent leaves for the conduit, and a
// HotSync run through the stand-in host.
#pragma once
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/win/common/file_helpers.h"
#include "tests/win/common/palm_desktop.h"
#include "tests/win/common/registry_helpers.h"

Bytes RatesBody(size_t length); // a count field and tab-free rate lines, cut to the length

// The settings key: "target" written as the agent does (wide, no terminator), "hwnd" as a DWORD.
void SetTarget(const std::string& folder);
void SetAgentWindow(HWND window);

struct HotSyncRun {
    DWORD exitCode;
    std::vector<std::string> lines; // the progress texts, in order
    // What the host measured of OpenConduit ("hotsync: result R after T ms"); -1 when it said
    // nothing (it never called the conduit, or never got an answer).
    double conduitMs;
};
// Runs hotsync.exe of the Palm Desktop with the arguments, started in the folder when given (else
// in the Palm Desktop folder), and pumps this thread's messages meanwhile, so a window of this
// thread can take the conduit's sent message.
// whilePaused runs while the Sync Manager holds the call named by ZLV_SYNC_PAUSE. The host's
// remarks on standard error are passed on to this program's.
HotSyncRun RunHotSync(const std::string& arguments = "", const char* folder = nullptr,
                      const std::function<void()>& whilePaused = nullptr);
