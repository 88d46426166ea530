// HotSyncs whose Sync Manager calls fail, one call at a time: the rates never get lost on the
// way. Either the rates file is still there, unchanged, for the next HotSync, or the handheld
// holds exactly these rates; and the next HotSync without faults ends with exactly them.
#include <gtest/gtest.h>

#include <stdio.h>

#include <algorithm>

#include "tests/win/hardening/harness.h"

namespace {

// The Sync Manager stand-in's codes: a system error on the handheld, and a lost connection.
const char* const kCodes[] = {"0x4015", "0x10006410"};

// Every call the conduit makes, each failing alone; "open" failing also makes the conduit create.
const char* const kCalls[] = {"register", "find",  "open",  "open=0x4005,create",
                              "purge",    "write", "close", "unregister"};

// A rates body of its own for each HotSync, so a record left from an earlier one never passes.
Bytes BodyNumber(int n) {
    char text[64];
    int length = snprintf(text, sizeof text, "0001%cUSD ProgramRun %d%c1.%04d%c", 0, n, 0, n, 0);
    return Bytes(text, text + length);
}

bool HoldsExactly(Installation& install, const Bytes& body) {
    std::vector<Bytes> records;
    return install.HandheldRecords(&records) && records.size() == 1 && records[0] == body;
}

} // namespace

TEST(HandheldFaults, EveryCallFailingInTurnLosesNoRates) {
    Installation install("zhf");
    ASSERT_TRUE(install.Ready());
    DeleteSetting("hwnd");
    int run = 0;
    for (const char* call : kCalls) {
        for (const char* code : kCodes) {
            SCOPED_TRACE(std::string(call) + "=" + code);
            Bytes body = BodyNumber(++run);
            Bytes file = RatesFileFor(body);
            ASSERT_TRUE(WriteBytes(install.RatesPath(), file));
            ProgramRun failed;
            {
                ScopedEnv fail("ZLV_SYNC_FAIL", std::string(call) + "=" + code);
                failed = install.HotSync();
            }
            ASSERT_NE(0xFFFFFFFFu, failed.exitCode) << "the HotSync did not end";
            // The conduit's own codes only: no broken Sync Manager rule (the host's 9010).
            const std::vector<DWORD> kResults = {0, 4371, 4377, 4384, 4394};
            EXPECT_NE(std::find(kResults.begin(), kResults.end(), failed.exitCode), kResults.end())
                << failed.exitCode;

            Bytes left;
            bool kept = ReadBytes(install.RatesPath(), &left);
            bool delivered = HoldsExactly(install, body);
            if (kept) {
                EXPECT_EQ(file, left) << "the kept rates file changed";
                EXPECT_NE(0u, failed.exitCode) << "the file stayed, yet the HotSync reported "
                                                  "success:\n"
                                               << failed.output;
            } else {
                EXPECT_TRUE(delivered) << "the rates file went, but the handheld does not hold "
                                          "exactly its rates:\n"
                                       << failed.output;
            }
            if (failed.exitCode != 0) {
                EXPECT_TRUE(kept) << "a failed HotSync must leave the file for the next one";
            }

            ProgramRun next = install.HotSync();
            EXPECT_EQ(0u, next.exitCode) << next.output;
            EXPECT_FALSE(FileExists(install.RatesPath()));
            EXPECT_TRUE(HoldsExactly(install, body)) << next.output;
        }
    }
}

TEST(HandheldFaults, LostConnectionDuringTheWriteKeepsTheFileUntilTheNextHotSync) {
    Installation install("zhw");
    ASSERT_TRUE(install.Ready());
    DeleteSetting("hwnd");
    Bytes old = BodyNumber(100), fresh = BodyNumber(101);
    ASSERT_TRUE(WriteBytes(install.RatesPath(), RatesFileFor(old)));
    ASSERT_EQ(0u, install.HotSync().exitCode);
    ASSERT_TRUE(WriteBytes(install.RatesPath(), RatesFileFor(fresh)));

    // The database was emptied for the new record when the connection went.
    ProgramRun lost;
    {
        ScopedEnv fail("ZLV_SYNC_FAIL", "write=0x10006410");
        lost = install.HotSync();
    }
    EXPECT_EQ(4384u, lost.exitCode) << lost.output;
    EXPECT_NE(std::string::npos, lost.output.find("updating currencies"));
    EXPECT_NE(std::string::npos, lost.output.find("closing database"));
    Bytes left;
    ASSERT_TRUE(ReadBytes(install.RatesPath(), &left));
    EXPECT_EQ(RatesFileFor(fresh), left);

    // A lost connection during the search: the handheld is not touched at all.
    {
        ScopedEnv fail("ZLV_SYNC_FAIL", "find=0x10006410");
        ProgramRun r = install.HotSync();
        EXPECT_EQ(4371u, r.exitCode);
        EXPECT_NE(std::string::npos, r.output.find("search error: SYNCERR_LOST_CONNECTION"));
    }
    EXPECT_TRUE(FileExists(install.RatesPath()));

    ProgramRun next = install.HotSync();
    EXPECT_EQ(0u, next.exitCode) << next.output;
    EXPECT_TRUE(HoldsExactly(install, fresh));
    EXPECT_FALSE(FileExists(install.RatesPath()));
}
