// Whole HotSyncs: what reaches the handheld, what the agent hears, and what the Sync Manager is
// asked.
#include "tests/win/common/build_kind.h"
#include "tests/win/conduit/hotsync_fixture.h"

namespace {

TEST_F(HotSync, FreshRatesReachTheHandheldOnceAndTheFileGoes) {
    InstallDatabase();
    Bytes body = RatesBody(1000);
    ASSERT_TRUE(WriteBytes(RatesPath(), RatesFileFor(body)));
    DeleteFileA(log.c_str());

    HotSyncRun first = RunHotSync();
    EXPECT_EQ(first.exitCode, 0u);
    EXPECT_EQ(first.lines, kFullCopy);
    EXPECT_FALSE(FileExists(RatesPath()));
    pdb::Database db = Handheld();
    EXPECT_EQ(db.name, "ZLV Currencies");
    EXPECT_EQ(std::string(db.type, 4), "CURR");
    EXPECT_EQ(std::string(db.creator, 4), "ZLVD");
    ASSERT_EQ(db.records.size(), 1u);
    EXPECT_EQ(db.records[0].data, body);
    EXPECT_EQ(db.records[0].attributes, 0x40);

    // The blocks as the Sync Manager received them. A code goes with its first character in the
    // top byte, so "CURR" is 52 52 55 43 in memory.
    Lines calls = ReadLines(log);
    EXPECT_EQ(BlocksOf(calls, "find"), Lines{Packed("80 80 52525543 44564c5a")});
    EXPECT_EQ(Calls(calls, "open"), Lines{"open name=ZLV Currencies card=0 mode=40"});
    Lines write = BlocksOf(calls, "write");
    ASSERT_EQ(write.size(), 1u);
    // The body's address is as wide as a pointer: 4 bytes in the shipped build, 8 in the 64-bit
    // one.
    const size_t addressHex = 2 * ByBuild(4, 8);
    ASSERT_EQ(write[0].size(), 2 * ByBuild(28u, 32u));
    EXPECT_EQ(write[0].substr(0, 40), Packed("01 00000000 0000 40 0000 00000000 e8030000 e803"));
    EXPECT_NE(write[0].substr(40, addressHex), std::string(addressHex, '0'));
    EXPECT_EQ(write[0].substr(40 + addressHex), "00000000");
    EXPECT_EQ(Calls(calls, "purge").size(), 1u);
    EXPECT_EQ(Calls(calls, "close").size(), 1u);
    EXPECT_EQ(Calls(calls, "register"), Lines{"register -> 1"});
    EXPECT_EQ(Calls(calls, "unregister"), Lines{"unregister 1"});

    HotSyncRun second = RunHotSync();
    EXPECT_EQ(second.exitCode, 0u);
    EXPECT_EQ(second.lines, kUpToDate);
    EXPECT_EQ(Handheld().records.size(), 1u);

    // A new download replaces the record rather than adding one; every sync type but 6 copies.
    Bytes newer = RatesBody(333);
    ASSERT_TRUE(WriteBytes(RatesPath(), RatesFileFor(newer)));
    EXPECT_EQ(RunHotSync("2").exitCode, 0u);
    EXPECT_EQ(OnlyRecord(), newer);
}

TEST_F(HotSync, SyncTypeSixOnlyConnects) {
    InstallDatabase();
    ASSERT_TRUE(WriteBytes(RatesPath(), RatesFileFor(RatesBody(100))));
    HWND window = SyncWatcher::Create();
    SetAgentWindow(window);
    HotSyncRun run = RunHotSync("6");
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(run.lines, (Lines{"Opening connection", "Closing connection"}));
    EXPECT_TRUE(FileExists(RatesPath()));
    EXPECT_TRUE(Handheld().records.empty());
    EXPECT_TRUE(SyncWatcher::received.empty());
    DestroyWindow(window);
}

TEST_F(HotSync, HeaderMagicIgnoresCaseButNeedsItsZero) {
    InstallDatabase();
    Bytes capital = {'K', 'E', 'L', 'P', 'O', 0, 0, 0, 1, 2, 3, 4, '0', '0', '0', '0', 0};
    ASSERT_TRUE(WriteBytes(RatesPath(), capital));
    HotSyncRun run = RunHotSync();
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_FALSE(FileExists(RatesPath()));
    EXPECT_EQ(OnlyRecord(), Bytes(capital.begin() + 12, capital.end()));

    const Bytes bad[] = {
        {'k', 'e', 'l', 'p', 'o', 's', 0, 0, 1, 2, 3, 4, '0', '0', '0', '0'}, // sixth not zero
        {'k', 'e', 'l', 'p', 'o', 'k', 'e', 'l', 'p', 'o', 'k', 'e', '0', '0', '0', '0'}, // no zero
        {'k', 'e', 'l', 'p'},
        {}, // empty file: nothing to read
        {'m', 'a', 'g', 'i', 'c', 0, 0, 0, 0, 0, 0, 0, '0', '0', '0', '0'},
    };
    for (const Bytes& file : bad) {
        ASSERT_TRUE(WriteBytes(RatesPath(), file));
        HotSyncRun failed = RunHotSync();
        EXPECT_EQ(failed.exitCode, 4394u) << file.size();
        EXPECT_EQ(failed.lines, (Lines{"Opening connection", "verifying local database",
                                       "invalid local DBheader", "Closing connection"}));
        Bytes kept;
        EXPECT_TRUE(ReadBytes(RatesPath(), &kept));
        EXPECT_EQ(kept, file);
    }
    EXPECT_EQ(Handheld().records.size(), 1u); // the earlier copy is untouched
}

TEST_F(HotSync, MissingDatabaseIsNeverCreatedAndTheFileStays) {
    InstallDatabase("\"ZLV Other\" CURR ABCD"); // right type, wrong creator
    ASSERT_TRUE(WriteBytes(RatesPath(), RatesFileFor(RatesBody(50))));
    HotSyncRun run = RunHotSync();
    EXPECT_EQ(run.exitCode, 4371u);
    EXPECT_EQ(run.lines,
              (Lines{"Opening connection", "verifying local database", "searching palm database",
                     "search error: SYNCERR_NOT_FOUND", "Closing connection"}));
    EXPECT_TRUE(FileExists(RatesPath()));
    EXPECT_FALSE(FileExists(handheld + "\\ZLV Currencies.pdb"));

    // The Sync Manager's own search failures each have their text.
    const struct {
        const char* code;
        const char* text;
    } kSearchErrors[] = {
        {"0x400A", "search error: SYNCERR_COMM_NOT_INIT"},
        {"0x400F", "search error: SYNCERR_REMOTE_BAD_ARG"},
        {"0x4013", "search error: SYNCERR_REMOTE_MEM"},
        {"0x4015", "search error: SYNCERR_REMOTE_SYS"},
        {"0x10006410", "search error: SYNCERR_LOST_CONNECTION"},
        {"0x4016", "search error: SYNCERR_NOT_FOUND"},
        {"-1", "search error: SYNCERR_NOT_FOUND"},
    };
    InstallDatabase();
    for (const auto& e : kSearchErrors) {
        ScopedEnv fail("ZLV_SYNC_FAIL", std::string("find=") + e.code);
        HotSyncRun failed = RunHotSync();
        EXPECT_EQ(failed.exitCode, 4371u) << e.code;
        ASSERT_EQ(failed.lines.size(), 5u) << e.code;
        EXPECT_EQ(failed.lines[3], e.text);
        EXPECT_TRUE(FileExists(RatesPath()));
    }
}

TEST_F(HotSync, DatabaseThatWillNotOpenIsCreatedAfresh) {
    // A handheld database whose header reads but whose record list is broken.
    pdb::Database damaged;
    damaged.name = "ZLV Currencies";
    memcpy(damaged.type, "CURR", 4);
    memcpy(damaged.creator, "ZLVD", 4);
    Bytes bytes = pdb::Serialize(damaged);
    bytes[77] = 9; // nine records that are not there
    ASSERT_TRUE(WriteBytes(handheld + "\\ZLV Currencies.pdb", bytes));
    Bytes body = RatesBody(200);
    ASSERT_TRUE(WriteBytes(RatesPath(), RatesFileFor(body)));

    HotSyncRun run = RunHotSync();
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(run.lines,
              (Lines{"Opening connection", "verifying local database", "searching palm database",
                     "opening database", "open error, creating...", "updating currencies",
                     "closing database", "Closing connection"}));
    pdb::Database db = Handheld();
    ASSERT_EQ(db.records.size(), 1u);
    EXPECT_EQ(db.records[0].data, body);
    EXPECT_EQ(std::string(db.creator, 4), "ZLVD");
    EXPECT_FALSE(FileExists(RatesPath()));
    // Handle (for the Sync Manager to fill), creator, flags, card, the name in 32 bytes, type,
    // version and four zero bytes.
    EXPECT_EQ(BlocksOf(ReadLines(log), "create"),
              Lines{Packed("00 44564c5a 00000000 00 5a4c562043757272656e63696573 0000 00000000 "
                           "00000000 00000000 00000000 52525543 0000 00000000")});
}

TEST_F(HotSync, FailedCreationKeepsTheFileAndClosesNothing) {
    InstallDatabase();
    ASSERT_TRUE(WriteBytes(RatesPath(), RatesFileFor(RatesBody(64))));
    DeleteFileA(log.c_str());
    // The open fails; the database is still there, so the creation fails too.
    ScopedEnv fail("ZLV_SYNC_FAIL", "open=0x4005");
    HotSyncRun run = RunHotSync();
    EXPECT_EQ(run.exitCode, 4384u);
    EXPECT_EQ(run.lines,
              (Lines{"Opening connection", "verifying local database", "searching palm database",
                     "opening database", "open error, creating...", "Closing connection"}));
    EXPECT_TRUE(FileExists(RatesPath()));
    Lines calls = ReadLines(log);
    EXPECT_EQ(Calls(calls, "create").size(), 1u);
    EXPECT_TRUE(Calls(calls, "close").empty());
    EXPECT_TRUE(Calls(calls, "write").empty());
}

TEST_F(HotSync, FailedWriteKeepsTheFileButClosesTheDatabase) {
    InstallDatabase();
    Bytes first = RatesBody(80);
    ASSERT_TRUE(WriteBytes(RatesPath(), RatesFileFor(first)));
    ASSERT_EQ(RunHotSync().exitCode, 0u);
    ASSERT_TRUE(WriteBytes(RatesPath(), RatesFileFor(RatesBody(90))));
    DeleteFileA(log.c_str());

    ScopedEnv fail("ZLV_SYNC_FAIL", "write=7");
    HotSyncRun run = RunHotSync();
    EXPECT_EQ(run.exitCode, 4384u);
    EXPECT_EQ(run.lines, kFullCopy);
    EXPECT_TRUE(FileExists(RatesPath()));
    EXPECT_EQ(Calls(ReadLines(log), "close").size(), 1u);
    EXPECT_TRUE(Handheld().records.empty()); // the records cleared before the write stay cleared
}

TEST_F(HotSync, AgentWindowHearsTheOutcome) {
    InstallDatabase();
    HWND window = SyncWatcher::Create();
    ASSERT_NE(window, nullptr);
    SetAgentWindow(window);

    ASSERT_TRUE(WriteBytes(RatesPath(), RatesFileFor(RatesBody(40))));
    EXPECT_EQ(RunHotSync().exitCode, 0u);
    EXPECT_EQ(RunHotSync().exitCode, 0u); // nothing to copy is still a success
    ASSERT_TRUE(WriteBytes(RatesPath(), Bytes{'b', 'a', 'd'}));
    EXPECT_EQ(RunHotSync().exitCode, 4394u);
    EXPECT_EQ(SyncWatcher::received, (std::vector<WPARAM>{2, 2, 3}));

    // A handle that no longer names a window is ignored; the copy still runs.
    DestroyWindow(window);
    Bytes body = RatesBody(41);
    ASSERT_TRUE(WriteBytes(RatesPath(), RatesFileFor(body)));
    HotSyncRun stale = RunHotSync();
    EXPECT_EQ(stale.exitCode, 0u);
    EXPECT_EQ(stale.lines, kFullCopy);
    EXPECT_EQ(SyncWatcher::received.size(), 3u);
    EXPECT_EQ(OnlyRecord(), body);
}

// An agent that hangs: its window's thread takes no messages until the test lets it recover.
class HungWindow {
  public:
    HungWindow()
        : created(CreateEventA(nullptr, TRUE, FALSE, nullptr)),
          release(CreateEventA(nullptr, TRUE, FALSE, nullptr)),
          thread(CreateThread(nullptr, 0, Run, this, 0, nullptr)) {
        if (thread) WaitForSingleObject(created, 10000);
    }
    ~HungWindow() {
        SetEvent(release);
        if (thread) WaitForSingleObject(thread, 10000);
        for (HANDLE h : {created, release, thread})
            if (h) CloseHandle(h);
    }
    HWND window = nullptr;

  private:
    static DWORD WINAPI Run(void* arg) {
        HungWindow* self = static_cast<HungWindow*>(arg);
        self->window = SyncWatcher::Create();
        SetEvent(self->created);
        WaitForSingleObject(self->release, INFINITE);
        DestroyWindow(self->window);
        return 0;
    }
    HANDLE created, release, thread;
};

TEST_F(HotSync, HungAgentWindowCannotHoldTheHotSync) {
    InstallDatabase();
    Bytes body = RatesBody(70);
    ASSERT_TRUE(WriteBytes(RatesPath(), RatesFileFor(body)));
    HungWindow hung;
    ASSERT_NE(hung.window, nullptr);
    SetAgentWindow(hung.window);

    // The window recovers only after the HotSync has ended: a HotSync that waited for it would
    // be ended by the harness, without a result.
    HotSyncRun run = RunHotSync();
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(run.lines, kFullCopy);
    EXPECT_EQ(OnlyRecord(), body);
    EXPECT_FALSE(FileExists(RatesPath()));
    // The host's own measure of OpenConduit: the 5 s allowed to the window, and the copy, which
    // takes a small part of a second here.
    ASSERT_GE(run.conduitMs, 0.0) << "the host said nothing of OpenConduit";
    EXPECT_LT(run.conduitMs, 5000.0 + 1000.0);
}

TEST_F(HotSync, BodyTooLargeForOneRecordIsRefusedBeforeTheHandheldIsTouched) {
    InstallDatabase();
    Bytes largest = RatesBody(65535);
    ASSERT_TRUE(WriteBytes(RatesPath(), RatesFileFor(largest)));
    ASSERT_EQ(RunHotSync().exitCode, 0u);
    EXPECT_EQ(OnlyRecord(), largest);

    Bytes before = HandheldFile();
    Bytes tooLarge = RatesFileFor(RatesBody(65536));
    ASSERT_TRUE(WriteBytes(RatesPath(), tooLarge));
    DeleteFileA(log.c_str());
    HotSyncRun run = RunHotSync();
    EXPECT_EQ(run.exitCode, 4384u);
    EXPECT_EQ(run.lines, (Lines{"Opening connection", "verifying local database",
                                "rates too large for the handheld record", "Closing connection"}));
    Bytes kept;
    EXPECT_TRUE(ReadBytes(RatesPath(), &kept));
    EXPECT_EQ(kept, tooLarge);
    EXPECT_EQ(HandheldFile(), before);
    Lines calls = ReadLines(log);
    EXPECT_EQ(calls, (Lines{"register -> 1", "unregister 1"}));
}

// Counted in characters: a folder named outside the ANSI code page, as a user's profile may be,
// holds as many as any other, each read and opened as it is.
TEST_F(HotSync, AgentFolderMustLeaveRoomForTheFileName) {
    InstallDatabase();
    // 114 characters of folder is the most that a 128-character path holds.
    std::string folder = root.path + "\\";
    for (size_t letters = Wide(folder).size(); letters < 114; ++letters)
        folder += "\xE7\x94\xA8"; // "用"
    ASSERT_TRUE(CreateDirectoryW(Wide(folder).c_str(), nullptr)) << folder;
    Bytes body = RatesBody(30);
    ASSERT_TRUE(WriteBytes(folder + "\\mrvrates.zlv", RatesFileFor(body)));
    SetTarget(folder);
    EXPECT_EQ(RunHotSync().lines, kFullCopy);
    EXPECT_FALSE(FileExists(folder + "\\mrvrates.zlv"));

    // A final backslash is not doubled.
    ASSERT_TRUE(WriteBytes(folder + "\\mrvrates.zlv", RatesFileFor(body)));
    SetTarget(folder + "\\");
    EXPECT_EQ(RunHotSync().lines, kFullCopy);
    EXPECT_FALSE(FileExists(folder + "\\mrvrates.zlv"));

    // One more character, or more than the 127 that are read, fails cleanly.
    std::string longer = folder + "g";
    ASSERT_TRUE(CreateDirectoryW(Wide(longer).c_str(), nullptr));
    ASSERT_TRUE(WriteBytes(longer + "\\mrvrates.zlv", RatesFileFor(body)));
    const Lines refused = {"Opening connection", "verifying local database",
                           "rates file path too long", "Closing connection"};
    SetTarget(longer);
    HotSyncRun run = RunHotSync();
    EXPECT_EQ(run.exitCode, 4377u);
    EXPECT_EQ(run.lines, refused);
    EXPECT_TRUE(FileExists(longer + "\\mrvrates.zlv"));
    SetTarget(std::string(300, 'x'));
    run = RunHotSync();
    EXPECT_EQ(run.exitCode, 4377u);
    EXPECT_EQ(run.lines, refused);
}

// What the agent does to land a download: the new file beside the old, then moved over it.
bool LandDownload(const std::string& rates, const Bytes& file) {
    std::string fresh = rates + ".new";
    return WriteBytes(fresh, file) &&
           MoveFileExA(fresh.c_str(), rates.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

TEST_F(HotSync, DownloadLandingDuringTheHotSyncIsNeverDeleted) {
    InstallDatabase();
    int n = 0;
    for (const char* call : {"find", "close", "unregister"}) {
        SCOPED_TRACE(call);
        Bytes copied = RatesBody(100 + n), landing = RatesBody(200 + n);
        ++n;
        ASSERT_TRUE(WriteBytes(RatesPath(), RatesFileFor(copied)));
        // What the agent does, from a process of its own, while the Sync Manager holds a call.
        bool reached = false, landed = false;
        ScopedEnv pause("ZLV_SYNC_PAUSE", call);
        HotSyncRun run = RunHotSync("", nullptr, [&] {
            reached = true;
            landed = LandDownload(RatesPath(), RatesFileFor(landing));
        });
        ASSERT_TRUE(reached);
        EXPECT_EQ(run.exitCode, 0u);
        EXPECT_EQ(run.lines, kFullCopy);
        EXPECT_EQ(OnlyRecord(), copied);

        // Refused while the conduit held the file, to be tried again; or landed, and still there.
        if (landed) {
            Bytes left;
            EXPECT_TRUE(ReadBytes(RatesPath(), &left)) << "the download that landed was deleted";
            EXPECT_EQ(left, RatesFileFor(landing));
        } else {
            EXPECT_FALSE(FileExists(RatesPath()));
            ASSERT_TRUE(LandDownload(RatesPath(), RatesFileFor(landing)));
        }
        EXPECT_EQ(RunHotSync().exitCode, 0u);
        EXPECT_EQ(OnlyRecord(), landing);
    }
}

} // namespace
