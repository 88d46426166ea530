// The Palm Desktop of the test PC: its folder, as the user's registry names it, holds the
// HotSync Manager, the Conduit Manager and the Sync Manager stand-ins.
#pragma once
#include <windows.h>

#include <string>

#define ZLV_PALM_DESKTOP_KEY_PATH "Software\\U.S. Robotics\\Pilot Desktop\\Core"

// The folder "Path" names (without a final separator); empty when none.
std::string PalmFolder();

// conduit.dll at path, loaded as the HotSync Manager loads it: the Sync Manager it imports is
// found in the Palm Desktop folder, where the HotSync Manager's own program lies.
HMODULE LoadConduitAsHost(const std::string& path);

// Names another Palm Desktop, or none, while it lives: "Path" and "HotSyncPath" as given (a null
// leaves the value out), put back as they were afterwards.
class NamedPalmDesktop {
  public:
    NamedPalmDesktop(const char* path, const char* hotSyncPath);
    ~NamedPalmDesktop();
    NamedPalmDesktop(const NamedPalmDesktop&) = delete;
    NamedPalmDesktop& operator=(const NamedPalmDesktop&) = delete;

  private:
    struct Saved {
        bool had = false;
        std::string text;
    } path_, hotSyncPath_;
};
