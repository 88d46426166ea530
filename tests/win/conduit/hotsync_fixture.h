// Whole HotSyncs: the stand-in host loads conduit.dll from an installation folder and the
// stand-in Sync Manager keeps the handheld as a folder of database files.
#pragma once
#include <gtest/gtest.h>

#include "palmdb/pdb_format.h"
#include "tests/win/conduit/conduit_harness.h"

typedef std::vector<std::string> Lines;

extern const Lines kFullCopy; // the progress texts of a copy that went through
extern const Lines kUpToDate; // ... and of a HotSync with nothing to copy

// Lines of the Sync Manager's call log that start with the word.
Lines Calls(const Lines& log, const std::string& word);
// The blocks that those calls handed over, as logged: hexadecimal bytes after "bytes=".
Lines BlocksOf(const Lines& log, const std::string& word);
std::string Packed(const char* spaced); // hexadecimal without its spaces

// A window of this thread that notes each sync-result message's first parameter.
struct SyncWatcher {
    static std::vector<WPARAM> received;
    static LRESULT CALLBACK Proc(HWND w, UINT m, WPARAM wp, LPARAM lp);
    static HWND Create();
};

class HotSync : public ::testing::Test {
  protected:
    HotSync();
    void SetUp() override;

    std::string RatesPath() const { return install + "\\mrvrates.zlv"; }
    void InstallDatabase(const std::string& args = "");
    pdb::Database Handheld(); // the one database file on the handheld, read whole
    // The one record's data; a failure, and nothing, unless there is exactly one record.
    Bytes OnlyRecord();
    Bytes HandheldFile(); // "ZLV Currencies" as its bytes on the handheld

    TempFolder root;
    std::string install, handheld, log;
    ScopedEnv handheldEnv, logEnv, failEnv;
    SavedSetting savedTarget, savedWindow;
};
