// Whole HotSyncs: the stand-in host loads conduit.dll from an installation folder and the
// stand-in Sync Manager keeps the handheld as a folder of database files.
#include <gtest/gtest.h>

#include "palmdb/pdb_format.h"
#include "palmsim/palmsim.h"
#include "tests/win/common/build_kind.h"
#include "tests/win/conduit/conduit_harness.h"

namespace {

typedef std::vector<std::string> Lines;

const Lines kFullCopy = {"Opening connection",         "verifying local database",
                         "searching palm database",    "opening database",
                         "clearing handheld database", "updating currencies",
                         "closing database",           "Closing connection"};
const Lines kUpToDate = {"Opening connection", "verifying local database",
                         "currencies are up-to-date", "Closing connection"};

// Lines of the Sync Manager's call log that start with the word.
Lines Calls(const Lines& log, const std::string& word) {
    Lines found;
    for (const std::string& l : log)
        if (l.compare(0, word.size() + 1, word + " ") == 0 || l == word) found.push_back(l);
    return found;
}

// The blocks that those calls handed over, as logged: hexadecimal bytes after "bytes=".
Lines BlocksOf(const Lines& log, const std::string& word) {
    Lines blocks;
    for (const std::string& l : Calls(log, word)) {
        size_t at = l.find(" bytes=");
        blocks.push_back(at == std::string::npos ? "(none)" : l.substr(at + 7));
    }
    return blocks;
}

std::string Packed(const char* spaced) {
    std::string hex;
    for (const char* c = spaced; *c; ++c)
        if (*c != ' ') hex += *c;
    return hex;
}

struct SyncWatcher {
    static std::vector<WPARAM> received;
    static LRESULT CALLBACK Proc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
        static UINT syncMessage = RegisterWindowMessageA("zlv_kelpo_palm_synch");
        if (m == syncMessage) {
            received.push_back(wp);
            return 0;
        }
        return DefWindowProcA(w, m, wp, lp);
    }
    static HWND Create() {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = Proc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "ZlvSyncWatcher";
        RegisterClassA(&wc);
        received.clear();
        return CreateWindowA("ZlvSyncWatcher", "", 0, 0, 0, 0, 0, nullptr, nullptr, wc.hInstance,
                             nullptr);
    }
};
std::vector<WPARAM> SyncWatcher::received;

class HotSync : public ::testing::Test {
  protected:
    HotSync()
        : root("hotsync"), install(root.Path("install")), handheld(root.Path("handheld")),
          log(root.Path("sync.log")), handheldEnv("ZLV_HANDHELD_DIR", handheld),
          logEnv("ZLV_SYNC_LOG", log), failEnv("ZLV_SYNC_FAIL", ""), savedTarget("target"),
          savedWindow("hwnd") {}

    void SetUp() override {
        CreateDirectoryA(install.c_str(), nullptr);
        CreateDirectoryA(handheld.c_str(), nullptr);
        ASSERT_TRUE(CopyFileA((BuildFolder() + "\\conduit.dll").c_str(),
                              (install + "\\conduit.dll").c_str(), FALSE));
        HKEY key;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, PALMSIM_CONDUITS_KEY "\\ZLVA", 0, nullptr, 0,
                                  KEY_ALL_ACCESS, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        RegSetValueExA(key, "Folder", 0, REG_SZ, reinterpret_cast<const BYTE*>(install.c_str()),
                       DWORD(install.size() + 1));
        RegSetValueExA(key, "File", 0, REG_SZ, reinterpret_cast<const BYTE*>("conduit.dll"), 12);
        RegCloseKey(key);
        SetTarget(install);
        DeleteSetting("hwnd");
    }

    std::string RatesPath() const { return install + "\\mrvrates.zlv"; }

    void InstallDatabase(const std::string& args = "") {
        ASSERT_EQ(RunHotSync("--install-db " + args).exitCode, 0u);
    }

    // The one database file on the handheld, read whole.
    pdb::Database Handheld() {
        pdb::Database db;
        WIN32_FIND_DATAA fd;
        HANDLE h = FindFirstFileA((handheld + "\\*.pdb").c_str(), &fd);
        EXPECT_NE(h, INVALID_HANDLE_VALUE) << "no database on the handheld";
        if (h == INVALID_HANDLE_VALUE) return db;
        FindClose(h);
        Bytes bytes;
        std::string error;
        EXPECT_TRUE(ReadBytes(handheld + "\\" + fd.cFileName, &bytes));
        EXPECT_TRUE(pdb::Parse(bytes.data(), bytes.size(), &db, &error)) << error;
        return db;
    }

    // The one record's data; a failure, and nothing, unless there is exactly one record.
    Bytes OnlyRecord() {
        pdb::Database db = Handheld();
        EXPECT_EQ(db.records.size(), 1u) << "records on the handheld";
        return db.records.size() == 1 ? db.records[0].data : Bytes();
    }

    Bytes HandheldFile() {
        Bytes bytes;
        ReadBytes(handheld + "\\ZLV Currencies.pdb", &bytes);
        return bytes;
    }

    TempFolder root;
    std::string install, handheld, log;
    ScopedEnv handheldEnv, logEnv, failEnv;
    SavedSetting savedTarget, savedWindow;
};

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
        {'k', 'e', 'l', 'p', 'o', 's', 0, 0, 1, 2, 3, 4, 'x'},             // sixth byte not zero
        {'k', 'e', 'l', 'p', 'o', 'k', 'e', 'l', 'p', 'o', 'k', 'e', 'l'}, // no zero at all
        {'k', 'e', 'l', 'p'},
        {}, // empty file: nothing to read
        {'m', 'a', 'g', 'i', 'c', 0, 0, 0, 0, 0, 0, 0},
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

TEST_F(HotSync, HeaderOnlyFileWritesAnEmptyRecord) {
    InstallDatabase();
    ASSERT_TRUE(WriteBytes(RatesPath(), RatesFileFor(Bytes())));
    HotSyncRun run = RunHotSync();
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(run.lines, kFullCopy);
    EXPECT_EQ(OnlyRecord(), Bytes());
    EXPECT_FALSE(FileExists(RatesPath()));
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

TEST_F(HotSync, FileBeingWrittenByTheAgentWaitsForTheNextHotSync) {
    InstallDatabase();
    Bytes body = RatesBody(120);
    ASSERT_TRUE(WriteBytes(RatesPath(), RatesFileFor(body)));
    // The agent's sharing mode while it writes: others may only write.
    HANDLE writer = CreateFileA(RatesPath().c_str(), GENERIC_WRITE, FILE_SHARE_WRITE, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    HotSyncRun held = RunHotSync();
    CloseHandle(writer);
    EXPECT_EQ(held.exitCode, 0u);
    EXPECT_EQ(held.lines, kUpToDate);
    EXPECT_TRUE(FileExists(RatesPath()));
    EXPECT_TRUE(Handheld().records.empty());

    HotSyncRun later = RunHotSync();
    EXPECT_EQ(later.lines, kFullCopy);
    EXPECT_EQ(OnlyRecord(), body);
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

TEST_F(HotSync, AgentFolderMustLeaveRoomForTheFileName) {
    InstallDatabase();
    // 114 characters of folder is the most that a 128-byte path holds.
    std::string folder = root.path + "\\";
    folder += std::string(114 - folder.size(), 'f');
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr)) << folder;
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
    ASSERT_TRUE(CreateDirectoryA(longer.c_str(), nullptr));
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

TEST_F(HotSync, TargetThatIsNoAbsoluteFolderLeavesEveryFileAlone) {
    InstallDatabase();
    const Bytes file = RatesFileFor(RatesBody(60));
    ASSERT_TRUE(WriteBytes(RatesPath(), file));
    // A missing or empty folder would lead to the root of the HotSync Manager's current drive.
    ASSERT_EQ(root.path[1], ':');
    const std::string drive = root.path.substr(0, 2);
    struct Planted {
        std::string path;
        ~Planted() { DeleteFileA(path.c_str()); }
    } atRoot{drive + "\\mrvrates.zlv"};
    ASSERT_FALSE(FileExists(atRoot.path));
    ASSERT_TRUE(WriteBytes(atRoot.path, file));

    // Each one names the installation's rates file, read against the current folder or drive.
    const struct {
        const char* what;
        DWORD type;
        std::string folder;
    } kTargets[] = {
        {"missing", REG_NONE, ""},
        {"empty", REG_SZ, ""},
        {"relative", REG_SZ, "install"},
        {"relative to the drive", REG_SZ, drive + "install"},
        {"rooted without a drive", REG_SZ, install.substr(2)},
        {"not a text", REG_BINARY, install},
    };
    for (const auto& t : kTargets) {
        SCOPED_TRACE(t.what);
        if (t.type == REG_NONE)
            DeleteSetting("target");
        else
            WriteSetting("target", t.type, t.folder.data(), DWORD(t.folder.size()));
        DeleteFileA(log.c_str());
        HotSyncRun run = RunHotSync("", root.path.c_str());
        EXPECT_EQ(run.exitCode, 0u);
        EXPECT_EQ(run.lines, kUpToDate);
        EXPECT_EQ(ReadLines(log), (Lines{"register -> 1", "unregister 1"}));
        for (const std::string& path : {RatesPath(), atRoot.path}) {
            Bytes left;
            EXPECT_TRUE(ReadBytes(path, &left)) << path;
            EXPECT_EQ(left, file) << path;
        }
    }
    EXPECT_TRUE(Handheld().records.empty());
}

} // namespace
