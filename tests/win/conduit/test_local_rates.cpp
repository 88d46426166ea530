// The rates file as the conduit finds, opens, checks and deletes it, on a desktop where other
// users and programs may have put things: only a folder on a local drive is looked in, only a
// file held with the right to delete it is copied, and every failure says so.
#include "tests/win/common/wine_share.h"
#include "tests/win/conduit/hotsync_fixture.h"

namespace {

const Lines kCannotOpen = {"Opening connection", "verifying local database",
                           "cannot open local database", "Closing connection"};
const Lines kBadHeader = {"Opening connection", "verifying local database",
                          "invalid local DBheader", "Closing connection"};
const Lines kNoSyncManagerWork = {"register -> 1", "unregister 1"};

// A pipe server under the name a device "target" would lead to; it notes any client.
struct PipeTrap {
    explicit PipeTrap(const char* name)
        : pipe(CreateNamedPipeA(name, PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED, 0, 1, 512, 512, 0,
                                nullptr)),
          connected(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {
        overlapped.hEvent = connected;
        if (pipe != INVALID_HANDLE_VALUE) ConnectNamedPipe(pipe, &overlapped);
    }
    ~PipeTrap() {
        if (pipe != INVALID_HANDLE_VALUE) CloseHandle(pipe);
        CloseHandle(connected);
    }
    bool Listening() const {
        return pipe != INVALID_HANDLE_VALUE && WaitForSingleObject(connected, 0) == WAIT_TIMEOUT;
    }
    HANDLE pipe, connected;
    OVERLAPPED overlapped = {};
};

char AbsentDrive() {
    DWORD drives = GetLogicalDrives();
    for (char letter = 'Q'; letter <= 'Y'; ++letter)
        if (!(drives & (1u << (letter - 'A')))) return letter;
    return 0;
}

TEST_F(HotSync, TargetOffTheLocalDrivesTouchesNothing) {
    InstallDatabase();
    const Bytes file = RatesFileFor(RatesBody(60));
    ASSERT_TRUE(WriteBytes(RatesPath(), file));
    WineShare share("zlvhost", "rates");
    ASSERT_FALSE(share.folder.empty()) << "no Wine prefix to share a folder from";
    ASSERT_TRUE(WriteBytes(share.folder + "\\mrvrates.zlv", file));
    PipeTrap pipe("\\\\.\\pipe\\zlv-rates\\mrvrates.zlv");
    ASSERT_TRUE(pipe.Listening());
    // A missing or empty folder would lead to the root of the HotSync Manager's current drive.
    ASSERT_EQ(root.path[1], ':');
    const std::string drive = root.path.substr(0, 2);
    struct Planted {
        std::string path;
        ~Planted() { DeleteFileA(path.c_str()); }
    } atRoot{drive + "\\mrvrates.zlv"};
    ASSERT_FALSE(FileExists(atRoot.path));
    ASSERT_TRUE(WriteBytes(atRoot.path, file));
    const char absent = AbsentDrive();
    ASSERT_NE(absent, 0);
    const Bytes handheldBefore = HandheldFile();

    const struct {
        const char* what;
        DWORD type;
        std::string folder;
        bool resolves; // the rates file opens under this name: it would have been copied
    } kTargets[] = {
        {"UNC", REG_SZ, "\\\\zlvhost\\rates", true},
        {"UNC with forward slashes", REG_SZ, "//zlvhost/rates", true},
        {"UNC as a device", REG_SZ, "\\\\?\\UNC\\zlvhost\\rates", true},
        {"a device", REG_SZ, "\\\\.\\pipe\\zlv-rates", false},
        {"this folder as a device", REG_SZ, "\\\\.\\" + install, true},
        {"this folder unparsed", REG_SZ, "\\\\?\\" + install, true},
        {"relative", REG_SZ, "install", false},
        {"relative to the drive", REG_SZ, drive + "install", false},
        {"rooted without a drive", REG_SZ, install.substr(2), false},
        {"a drive that is not there", REG_SZ, std::string(1, absent) + ":\\Zelvantic", false},
        {"missing", REG_NONE, "", false},
        {"empty", REG_SZ, "", false},
        {"not a text", REG_BINARY, install, false},
    };
    for (const auto& t : kTargets) {
        SCOPED_TRACE(t.what);
        Bytes reached;
        if (t.resolves) {
            ASSERT_TRUE(ReadBytes(t.folder + "\\mrvrates.zlv", &reached));
            EXPECT_EQ(reached, file);
        }
        if (t.type == REG_NONE)
            DeleteSetting("target");
        else
            WriteSetting("target", t.type, t.folder.data(), DWORD(t.folder.size()));
        DeleteFileA(log.c_str());
        // Run where the relative names lead to the installation's rates file.
        HotSyncRun run = RunHotSync("", root.path.c_str());
        EXPECT_EQ(run.exitCode, 0u);
        EXPECT_EQ(run.lines, kUpToDate);
        EXPECT_EQ(ReadLines(log), kNoSyncManagerWork);
        for (const std::string& path :
             {RatesPath(), atRoot.path, share.folder + "\\mrvrates.zlv"}) {
            Bytes left;
            EXPECT_TRUE(ReadBytes(path, &left)) << path;
            EXPECT_EQ(left, file) << path;
        }
        EXPECT_TRUE(pipe.Listening()) << "the pipe was opened";
    }
    EXPECT_EQ(HandheldFile(), handheldBefore);
}

TEST_F(HotSync, RatesFileHeldWithoutDeleteSharingIsAFailureAndStays) {
    InstallDatabase();
    HWND window = SyncWatcher::Create();
    SetAgentWindow(window);
    const Bytes body = RatesBody(120), file = RatesFileFor(body);
    ASSERT_TRUE(WriteBytes(RatesPath(), file));
    const Bytes handheldBefore = HandheldFile();
    const struct {
        const char* what;
        DWORD access, sharing;
    } kHolders[] = {
        {"a reader sharing reading", GENERIC_READ, FILE_SHARE_READ},
        {"a reader sharing reading and writing", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE},
        {"a writer sharing writing", GENERIC_WRITE, FILE_SHARE_WRITE},
        {"a reader sharing nothing", GENERIC_READ, 0},
    };
    for (const auto& h : kHolders) {
        SCOPED_TRACE(h.what);
        HANDLE holder = CreateFileA(RatesPath().c_str(), h.access, h.sharing, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(holder, INVALID_HANDLE_VALUE);
        HotSyncRun run = RunHotSync();
        CloseHandle(holder);
        EXPECT_EQ(run.exitCode, 4377u);
        EXPECT_EQ(run.lines, kCannotOpen);
        Bytes left;
        EXPECT_TRUE(ReadBytes(RatesPath(), &left));
        EXPECT_EQ(left, file);
        EXPECT_EQ(HandheldFile(), handheldBefore);
    }
    EXPECT_EQ(SyncWatcher::received, std::vector<WPARAM>(4, 3));

    // A look that shares deleting too, as the agent's own, leaves the copy free.
    HANDLE look = CreateFileA(RatesPath().c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(look, INVALID_HANDLE_VALUE);
    HotSyncRun run = RunHotSync();
    CloseHandle(look);
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(run.lines, kFullCopy);
    EXPECT_EQ(OnlyRecord(), body);
    EXPECT_FALSE(FileExists(RatesPath()));
    DestroyWindow(window);
}

TEST_F(HotSync, FileTooShortForHeaderAndCountIsDamagedAndTheHandheldStaysAsItWas) {
    InstallDatabase();
    const Bytes earlier = RatesBody(90);
    ASSERT_TRUE(WriteBytes(RatesPath(), RatesFileFor(earlier)));
    ASSERT_EQ(RunHotSync().exitCode, 0u);
    const Bytes handheldBefore = HandheldFile();
    ASSERT_FALSE(handheldBefore.empty());

    // The magic and its zero byte, then less than the rest of the header and the count.
    const Bytes whole = RatesFileFor(RatesBody(4));
    ASSERT_EQ(whole.size(), 16u);
    for (size_t length = 6; length < 16; ++length) {
        SCOPED_TRACE(length);
        const Bytes shortFile(whole.begin(), whole.begin() + length);
        ASSERT_TRUE(WriteBytes(RatesPath(), shortFile));
        DeleteFileA(log.c_str());
        HotSyncRun run = RunHotSync();
        EXPECT_EQ(run.exitCode, 4394u);
        EXPECT_EQ(run.lines, kBadHeader);
        EXPECT_EQ(ReadLines(log), kNoSyncManagerWork);
        EXPECT_EQ(HandheldFile(), handheldBefore);
        Bytes kept;
        EXPECT_TRUE(ReadBytes(RatesPath(), &kept));
        EXPECT_EQ(kept, shortFile);
    }

    // Header and count with no lines is the shortest rates file there is.
    ASSERT_TRUE(WriteBytes(RatesPath(), whole));
    HotSyncRun run = RunHotSync();
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(run.lines, kFullCopy);
    EXPECT_EQ(OnlyRecord(), (Bytes{'0', '0', '0', '0'}));
    EXPECT_FALSE(FileExists(RatesPath()));
}

TEST_F(HotSync, FailedDeleteIsAFailureButTheRecordStays) {
    InstallDatabase();
    HWND window = SyncWatcher::Create();
    SetAgentWindow(window);
    const Bytes body = RatesBody(150), file = RatesFileFor(body);
    ASSERT_TRUE(WriteBytes(RatesPath(), file));
    // Opened with the right to delete, yet refused the delete itself.
    ASSERT_TRUE(SetFileAttributesA(RatesPath().c_str(), FILE_ATTRIBUTE_READONLY));
    HotSyncRun run = RunHotSync();
    SetFileAttributesA(RatesPath().c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(run.exitCode, 4377u);
    Lines expected = kFullCopy;
    expected.insert(expected.end() - 1, "cannot delete local database");
    EXPECT_EQ(run.lines, expected);
    EXPECT_EQ(OnlyRecord(), body);
    Bytes kept;
    EXPECT_TRUE(ReadBytes(RatesPath(), &kept));
    EXPECT_EQ(kept, file);
    EXPECT_EQ(SyncWatcher::received, std::vector<WPARAM>{3});

    // Once it may go, the next HotSync copies it again and it goes.
    run = RunHotSync();
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(run.lines, kFullCopy);
    EXPECT_EQ(OnlyRecord(), body);
    EXPECT_FALSE(FileExists(RatesPath()));
    EXPECT_EQ(SyncWatcher::received, (std::vector<WPARAM>{3, 2}));
    DestroyWindow(window);
}

} // namespace
