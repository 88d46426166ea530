// What the hardening cases share: an installation of the agent and the conduit in a throw-away
// folder, a handheld made of database files, and programs run to their end.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "tests/win/common/agent_runner.h"
#include "tests/win/common/file_helpers.h"
#include "tests/win/common/loopback_http.h"
#include "tests/win/common/palm_desktop.h"
#include "tests/win/common/registry_helpers.h"

struct ProgramRun {
    DWORD exitCode = 0xFFFFFFFF; // also when it did not end in time
    std::string output;          // standard output
};
// Runs the program at path and waits up to ms, pumping this thread's messages meanwhile.
ProgramRun RunProgram(const std::string& path, const std::string& arguments, DWORD ms = 30000);

// The records of the rates database in a handheld folder; false when it is missing or damaged.
bool HandheldRecords(const std::string& handheld, std::vector<Bytes>* records);
// The rates file's bytes from its count on for a page: the count of line feeds as four digits
// and a zero byte, then the page by the line rule.
Bytes RatesBodyOf(const std::string& page);

// agent.exe and conduit.dll copied into a fresh folder, as the installer puts them, registered
// with the Conduit Manager stand-in; the handheld beside it with an empty rates database; "target"
// naming the user's own rates folder, emptied, as the agent's start leaves it. The HotSync runs
// the Palm Desktop's hotsync.exe.
class Installation {
  public:
    explicit Installation(const char* tag);
    ~Installation();
    bool Ready() const { return ready_; }
    std::string Folder() const { return folder_; }
    std::string RatesFolder() const { return rates_; }
    std::string RatesPath() const { return rates_ + "\\mrvrates.zlv"; }
    std::string AgentPath() const { return folder_ + "\\agent.exe"; }
    // hotsync.exe with the given arguments (sync type 3 unless given).
    ProgramRun HotSync(const std::string& arguments = "");
    // The records of the handheld rates database; false when it is missing or damaged.
    bool HandheldRecords(std::vector<Bytes>* records) {
        return ::HandheldRecords(handheld_, records);
    }
    // The Conduit Manager entry points at this folder, as the agent's start would leave it.
    void RegisterConduitHere();

  private:
    std::string root_, folder_, handheld_, rates_;
    ScopedEnv* handheldEnv_ = nullptr;
    bool ready_ = false;
};

extern const Bytes kRatesBody;
