// The timer's update cycle against a server on 127.0.0.1:80 (the agent's test host).
#include "tests/win/agent_shell/shell_fixture.h"

#include <string.h>

#include "agent/shell/startup.h"
#include "agent/shell/tray.h"
#include "agent/update/downloader.h"
#include "tests/win/common/import_hook.h"

namespace {

using UpdateCycleTest = ShellTest;

// The rates file's magic and padding; empty when there is no file.
std::string RatesFileStart(const std::string& path) {
    Bytes data;
    if (!ReadBytes(path, &data)) return "";
    return std::string(data.begin(), data.begin() + (data.size() < 7 ? data.size() : 7));
}

TEST_F(UpdateCycleTest, CompletedDownloadIsStoredThenRemindedHourly) {
    LoopbackHttpServer server(kRatesReply);
    ASSERT_TRUE(server.Listening());
    ASSERT_TRUE(SetFlagText("tooltip", "1"));
    Tick();
    ASSERT_TRUE(g_agent.downloader);
    EXPECT_TRUE(g_agent.requestSent) << "a server that answers at once asked a tick later";
    ASSERT_TRUE(TickUntil([] { return g_agent.updatedToday; }));
    DWORD last = 0;
    ASSERT_TRUE(ReadDword("lastupdate", &last));
    EXPECT_EQ(static_cast<DWORD>(g_fakeNow), last);
    EXPECT_EQ(std::string("kelpo\0\0", 7), RatesFileStart(RatesPath()));
    EXPECT_EQ(1, server.Requests());
    EXPECT_TRUE(TakeNotices().empty());

    Tick(); // the first tick of reminding
    std::vector<TrayCall> notices = TakeNotices();
    ASSERT_EQ(1u, notices.size());
    EXPECT_STREQ(kUpdateReady, notices[0].data.szInfo);
    EXPECT_EQ(1u, notices[0].data.dwInfoFlags);
    EXPECT_EQ(FakeFrame(0), notices[0].data.hIcon); // the animation is back at rest

    Advance(3600); // not more than an hour yet
    Tick();
    EXPECT_TRUE(TakeNotices().empty());
    Advance(1);
    Tick();
    EXPECT_EQ(1u, TakeNotices().size());

    // "tooltip" off: checked, but nothing shown; after a HotSync took the file, nothing either.
    ASSERT_TRUE(SetFlagText("tooltip", "0"));
    Advance(3601);
    Tick();
    EXPECT_TRUE(TakeNotices().empty());
    ASSERT_TRUE(SetFlagText("tooltip", "1"));
    DeleteFileA(RatesPath().c_str());
    Advance(3601);
    Tick();
    EXPECT_TRUE(TakeNotices().empty());

    // One download per run: a day later there is still no new request.
    Advance(86400);
    for (int i = 0; i < 5; ++i)
        Tick();
    EXPECT_EQ(1, server.Connections());
}

TEST_F(UpdateCycleTest, DownloadTheFileCannotTakeIsKeptAndWrittenLater) {
    LoopbackHttpServer server(kRatesReply);
    ASSERT_TRUE(server.Listening());
    ASSERT_TRUE(SetFlagText("tooltip", "1"));
    // The conduit holds the rates file during a HotSync.
    WriteFileText(RatesPath(), "old rates");
    HANDLE held = CreateFileA(RatesPath().c_str(), GENERIC_READ | DELETE, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    ASSERT_TRUE(TickUntil([&] {
        return server.Requests() == 1 && g_agent.downloader && g_agent.downloader->IsFinished();
    }));
    for (int i = 0; i < 3; ++i)
        Tick();
    DWORD last = 0;
    EXPECT_FALSE(ReadDword("lastupdate", &last)) << "stored before the rates were on disk";
    EXPECT_FALSE(g_agent.updatedToday);
    EXPECT_TRUE(TakeNotices().empty());

    CloseHandle(held); // the HotSync is over
    Tick();            // too soon for the next try
    EXPECT_FALSE(g_agent.updatedToday);
    Advance(5);
    Tick();
    EXPECT_TRUE(g_agent.updatedToday);
    ASSERT_TRUE(ReadDword("lastupdate", &last));
    EXPECT_EQ(static_cast<DWORD>(g_fakeNow), last);
    EXPECT_EQ(std::string("kelpo\0\0", 7), RatesFileStart(RatesPath()));
    Tick();
    EXPECT_EQ(1u, TakeNotices().size());

    // Recycles came and went meanwhile: the completed download was never fetched again.
    Advance(2000);
    for (int i = 0; i < 3; ++i)
        Tick();
    EXPECT_EQ(1, server.Connections());
}

// What another program left under the temp file's name, here a hard link to a file of the user's,
// is passed over: the link and the file keep their bytes, and the download lands all the same.
TEST_F(UpdateCycleTest, ADownloadLandsPastALinkWaitingUnderTheTempName) {
    LoopbackHttpServer server(kRatesReply);
    ASSERT_TRUE(server.Listening());
    const std::string victim = folder_ + "\\letter.txt", link = RatesPath() + ".new";
    WriteFileText(victim, "Dear Kim,");
    ASSERT_TRUE(CreateHardLinkA(link.c_str(), victim.c_str(), nullptr));
    ASSERT_TRUE(TickUntil([] { return g_agent.updatedToday; }));
    EXPECT_EQ(std::string("kelpo\0\0", 7), RatesFileStart(RatesPath()));
    Bytes mail;
    ASSERT_TRUE(ReadBytes(victim, &mail));
    EXPECT_EQ("Dear Kim,", std::string(mail.begin(), mail.end()));
    HANDLE h = CreateFileA(link.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, h) << "the link is gone";
    BY_HANDLE_FILE_INFORMATION info;
    ASSERT_TRUE(GetFileInformationByHandle(h, &info));
    CloseHandle(h);
    EXPECT_EQ(2u, info.nNumberOfLinks) << "the link no longer names the letter";
}

// The conduit opens the rates file for deleting it and shares only reading: the agent's hourly
// look, while it has the file open, must share deleting, or that HotSync fails.
ImportHook* g_createFile;
int g_conduitOpens, g_conduitTries;
std::string g_ratesPath;

HANDLE WINAPI LookWithTheConduit(LPCWSTR path, DWORD access, DWORD share,
                                 LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags,
                                 HANDLE templateFile) {
    typedef HANDLE(WINAPI * CreateFileFn)(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD,
                                          DWORD, HANDLE);
    CreateFileFn real = g_createFile->Real<CreateFileFn>();
    HANDLE look = real(path, access, share, security, disposition, flags, templateFile);
    if (look != INVALID_HANDLE_VALUE && path && g_ratesPath == Utf8(path)) {
        ++g_conduitTries;
        HANDLE conduit = real(path, GENERIC_READ | DELETE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
        if (conduit != INVALID_HANDLE_VALUE) {
            ++g_conduitOpens;
            CloseHandle(conduit);
        }
    }
    return look;
}

TEST_F(UpdateCycleTest, TheHourlyLookNeverStandsInTheConduitsWay) {
    ASSERT_TRUE(SetFlagText("tooltip", "1"));
    WriteFileText(RatesPath(), "kelpo");
    g_agent.updatedToday = true;
    g_ratesPath = RatesPath();
    g_conduitOpens = g_conduitTries = 0;
    {
        ImportHook hook("kernel32.dll", "CreateFileW", reinterpret_cast<void*>(LookWithTheConduit));
        ASSERT_TRUE(hook.Active());
        g_createFile = &hook;
        Tick();
        g_createFile = nullptr;
    }
    EXPECT_EQ(1u, TakeNotices().size());
    ASSERT_EQ(1, g_conduitTries) << "the look did not open the rates file";
    EXPECT_EQ(1, g_conduitOpens) << "the conduit could not open the file while the agent looked";
}

TEST_F(UpdateCycleTest, ReplyWithoutAPageIsAFailedAttemptRetriedAfterTheRecycle) {
    // Headers that never end: there is no page in it, however long the agent waits.
    LoopbackHttpServer server("HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\nX-Padding: "
                              "0123456789012345678901234567890123456789\r\n");
    ASSERT_TRUE(server.Listening());
    ASSERT_TRUE(TickUntil([&] { return g_agent.downloader && g_agent.downloader->IsFinished(); }));
    for (int i = 0; i < 3; ++i)
        Tick();
    DWORD last = 0;
    EXPECT_FALSE(ReadDword("lastupdate", &last));
    EXPECT_FALSE(FileExists(RatesPath()));
    EXPECT_FALSE(g_agent.updatedToday);
    Advance(901);
    ASSERT_TRUE(TickUntil([&] { return server.Connections() == 2; }));
}

// The first recycle counts from the process start, as the start-up initialiser noted it.
TEST_F(UpdateCycleTest, FirstRecycleComes900SecondsAfterTheStartWithoutANotice) {
    // A silent start with "startup" off returns at once: all it leaves is what the initialisers
    // did before the entry point.
    EXPECT_EQ(0, AgentMain(GetModuleHandleA(nullptr), "-silent"));
    EXPECT_EQ(nullptr, OpenMutexA(SYNCHRONIZE, FALSE, "(:::)Zelvantic Desktop Agent by kelpo"));
    EXPECT_EQ(RegisterWindowMessageA("zlv_kelpo_palm_synch"), g_atStart.syncResultMessage);
    FILETIME created, unused;
    ASSERT_TRUE(GetProcessTimes(GetCurrentProcess(), &created, &unused, &unused, &unused));
    ULARGE_INTEGER t = {{created.dwLowDateTime, created.dwHighDateTime}};
    time_t processStart = static_cast<time_t>((t.QuadPart - 116444736000000000ULL) / 10000000ULL);
    time_t noted = g_atStart.lastRecycleTime;
    EXPECT_LE(processStart, noted) << "not the time of this process's start";
    EXPECT_GE(time(nullptr), noted);

    g_fakeNow = noted;
    g_agent.lastRecycleTime = noted;
    ASSERT_TRUE(SetFlagText("tooltip", "1"));
    Tick();
    Downloader* first = g_agent.downloader;
    ASSERT_TRUE(first);
    // Nothing listens on port 80: the attempt ends without a connection.
    ASSERT_TRUE(TickUntil([&] { return first->IsFinished(); }));
    Advance(900);
    Tick();
    EXPECT_EQ(first, g_agent.downloader) << "recycled before 900 seconds had passed";
    Advance(1);
    Tick(); // the recycle
    EXPECT_EQ(nullptr, g_agent.downloader);
    Tick(); // the next attempt
    ASSERT_NE(nullptr, g_agent.downloader);
    ASSERT_TRUE(TickUntil([&] { return g_agent.downloader->IsFinished(); }));
    EXPECT_TRUE(TakeNotices().empty());
    EXPECT_TRUE(g_trayCalls.empty()) << "the icon stays on its resting frame";
    EXPECT_FALSE(g_agent.updatedToday);
    DWORD last = 0;
    EXPECT_FALSE(ReadDword("lastupdate", &last));
}

// A server that never answers the connect: the tick goes on at once, and the attempt is given up
// 10 seconds after it began, without animating.
TEST_F(UpdateCycleTest, UnansweredConnectNeitherHoldsTheTickNorOutlivesItsDeadline) {
    BlackHoleServer server;
    ASSERT_TRUE(server.Swallowing());
    Tick();
    Downloader* attempt = g_agent.downloader;
    ASSERT_TRUE(attempt);
    // A tick that waited for the connect would come back with it made or given up.
    EXPECT_FALSE(attempt->IsFinished());
    EXPECT_FALSE(attempt->IsConnected());
    Advance(10);
    Tick();
    EXPECT_FALSE(g_agent.connectAbandoned);
    Advance(1);
    Tick();
    EXPECT_TRUE(g_agent.connectAbandoned);
    EXPECT_TRUE(TickUntil([&] { return attempt->IsFinished(); }));
    EXPECT_EQ(0, g_agent.frameCounter);
    EXPECT_FALSE(g_agent.requestSent);
}

TEST_F(UpdateCycleTest, SilentServerAnimatesUntilRecycleWithoutBlockingTheTick) {
    LoopbackHttpServer server(""); // accepts, then never answers
    ASSERT_TRUE(server.Listening());
    SetTrayFrame(0);
    ASSERT_TRUE(TickUntil([&] { return g_agent.requestSent; }));
    size_t before = g_trayCalls.size();
    for (int i = 0; i < 5; ++i)
        Tick();
    EXPECT_EQ(before + 5, g_trayCalls.size()) << "one frame per tick while connected";
    EXPECT_NE(0, g_agent.frameCounter);

    // The recycle stops the attempt while its worker waits in a read (2 s at a time); the tick
    // must not wait for it: it comes back with the attempt put aside, its worker still reading.
    Downloader* attempt = g_agent.downloader;
    Advance(901);
    Tick();
    EXPECT_EQ(nullptr, g_agent.downloader);
    EXPECT_EQ(attempt, g_agent.retiredDownloader) << "the tick waited for the worker to end";
    // The stopped one goes once its worker is done; then the next attempt connects again.
    ASSERT_TRUE(TickUntil([] { return g_agent.retiredDownloader == nullptr; }, 5000));
    ASSERT_TRUE(TickUntil([&] { return server.Connections() == 2; }));
}

} // namespace
