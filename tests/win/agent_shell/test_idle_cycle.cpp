// The idle agent: reminding on a slow timer, a finished download written the moment its worker
// ends rather than on the next tick, and each new day's rates fetched by an agent left running.
#include "tests/win/agent_shell/shell_fixture.h"

#include <string.h>

#include "agent/shell/tray.h"
#include "agent/update/downloader.h"

namespace {

struct TimerAsk {
    HWND window;
    UINT_PTR id;
    UINT periodMs;
};
std::vector<TimerAsk> g_timerAsks;
bool g_refuseSlowTimers;

// Records what the agent asks of SetTimer, then asks the system the same.
UINT_PTR WINAPI RecordSetTimerPeriod(HWND window, UINT_PTR id, UINT periodMs, TIMERPROC proc) {
    g_timerAsks.push_back({window, id, periodMs});
    if (g_refuseSlowTimers && periodMs != 100) return 0;
    return SetTimer(window, id, periodMs, proc);
}

class IdleCycleTest : public ShellTest {
  protected:
    void SetUp() override {
        ShellTest::SetUp();
        g_timerAsks.clear();
        g_refuseSlowTimers = false;
        g_agent.setTimer = RecordSetTimerPeriod;
        ASSERT_TRUE(SetFlagText("tooltip", "1"));
    }

    // As a start finds it when "lastupdate" lies a minute back: reminding from the first tick.
    void StartReminding(bool withRatesFile) {
        ASSERT_TRUE(SetDword("lastupdate", static_cast<DWORD>(g_fakeNow - 60)));
        g_agent.lastUpdateTime = g_fakeNow - 60;
        g_agent.updatedToday = true;
        if (withRatesFile) WriteFileText(RatesPath(), "kelpo");
    }

    // Handles what is queued for this thread, for up to ms or until done(); ticks are counted.
    template <class F> bool Pump(F done, DWORD ms) {
        DWORD start = GetTickCount();
        while (!done() && GetTickCount() - start < ms) {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
            MSG msg;
            while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
                if (msg.message == WM_TIMER) ++ticksSeen_;
                DispatchMessageA(&msg);
            }
        }
        return done();
    }

    int ticksSeen_ = 0;
};

TEST_F(IdleCycleTest, RemindsOnTheFirstTickThenHourlyOnTheSlowTimerWithoutNetwork) {
    LoopbackHttpServer server(kRatesReply); // updated today: never to be asked
    ASSERT_TRUE(server.Listening());
    StartReminding(true);
    Tick();
    std::vector<TrayCall> notices = TakeNotices();
    ASSERT_EQ(1u, notices.size()) << "the first tick of reminding checks at once";
    EXPECT_STREQ(kUpdateReady, notices[0].data.szInfo);
    EXPECT_EQ(1u, notices[0].data.dwInfoFlags);

    ASSERT_EQ(1u, g_timerAsks.size()) << "slowed once its first check had run";
    EXPECT_EQ(window_, g_timerAsks[0].window);
    EXPECT_EQ(100u, g_timerAsks[0].id);
    UINT period = g_timerAsks[0].periodMs;
    EXPECT_GE(period, 1000u) << "still more than a tick a second";
    EXPECT_LE(period, 60000u) << "a reminder would come more than a minute late";

    // Three hours on that timer: each reminder more than an hour after the last, and no later
    // than the first slow tick after that hour.
    time_t last = g_fakeNow;
    int reminders = 0;
    for (time_t start = g_fakeNow; g_fakeNow - start < 3 * 3600;) {
        Advance(period / 1000);
        Tick();
        ASSERT_EQ(nullptr, g_agent.downloader) << "a download on a day already updated";
        notices = TakeNotices();
        ASSERT_LE(notices.size(), 1u);
        if (notices.empty()) {
            ASSERT_LE(g_fakeNow - last, 3600 + static_cast<time_t>(period / 1000))
                << "the hourly reminder is overdue";
            continue;
        }
        EXPECT_STREQ(kUpdateReady, notices[0].data.szInfo);
        EXPECT_GT(g_fakeNow - last, 3600) << "twice within an hour";
        last = g_fakeNow;
        ++reminders;
    }
    EXPECT_GE(reminders, 2);
    EXPECT_EQ(1u, g_timerAsks.size()) << "the slow timer is asked for once, not on every tick";
    EXPECT_EQ(0, server.Connections());
}

TEST_F(IdleCycleTest, FinishedDownloadIsWrittenBeforeTheNextTick) {
    LoopbackHttpServer server(kRatesReply);
    ASSERT_TRUE(server.Listening());
    ASSERT_TRUE(TickUntil([] { return g_agent.requestSent; }));
    EXPECT_TRUE(g_timerAsks.empty()) << "downloading keeps the 100 ms tick";

    // No tick from here on: only what the worker posts as it ends.
    ASSERT_TRUE(Pump([] { return g_agent.updatedToday; }, 5000)) << "the page waited for a tick";
    EXPECT_EQ(0, ticksSeen_);
    Bytes file;
    ASSERT_TRUE(ReadBytes(RatesPath(), &file));
    DWORD at = static_cast<DWORD>(g_fakeNow);
    const char time[4] = {static_cast<char>(at), static_cast<char>(at >> 8),
                          static_cast<char>(at >> 16), static_cast<char>(at >> 24)};
    const std::string whole = std::string("kelpo\0\0\0", 8) + std::string(time, 4) +
                              std::string("0002\0USD US Dollar\0"
                                          "1.0000\0"
                                          "1.0000\0"
                                          "EUR Euro\0"
                                          "0.9100\0"
                                          "0.9200\0",
                                          56);
    EXPECT_EQ(whole, std::string(file.begin(), file.end()));
    DWORD last = 0;
    ASSERT_TRUE(ReadDword("lastupdate", &last));
    EXPECT_EQ(static_cast<DWORD>(g_fakeNow), last);
    EXPECT_TRUE(TakeNotices().empty());

    // The next tick is reminding's first: the notice, then the slow timer.
    Tick();
    std::vector<TrayCall> notices = TakeNotices();
    ASSERT_EQ(1u, notices.size());
    EXPECT_STREQ(kUpdateReady, notices[0].data.szInfo);
    ASSERT_EQ(1u, g_timerAsks.size());
    EXPECT_GT(g_timerAsks[0].periodMs, 100u);
    EXPECT_EQ(1, server.Requests());
}

TEST_F(IdleCycleTest, SyncResultAndMenuAreAnsweredAtOnceOnTheSlowTimer) {
    StartReminding(false);
    Tick();
    ASSERT_EQ(1u, g_timerAsks.size());
    ASSERT_GT(g_timerAsks[0].periodMs, 100u);

    // The conduit sends from another thread and waits; a menu click is posted.
    struct Sender {
        HWND window;
        UINT message;
        LRESULT result = -1;
        static DWORD WINAPI Run(void* self) {
            Sender* s = static_cast<Sender*>(self);
            s->result = SendMessageA(s->window, s->message, 2, 0);
            return 0;
        }
    } sender{window_, g_agent.syncResultMessage};
    HANDLE thread = CreateThread(nullptr, 0, Sender::Run, &sender, 0, nullptr);
    ASSERT_TRUE(thread);
    ASSERT_TRUE(Pump([&] { return WaitForSingleObject(thread, 0) == WAIT_OBJECT_0; }, 5000));
    CloseHandle(thread);
    EXPECT_EQ(0, sender.result);
    std::vector<TrayCall> notices = TakeNotices();
    ASSERT_EQ(1u, notices.size());
    EXPECT_STREQ(kSyncSucceeded, notices[0].data.szInfo);

    InitMenuChecks();                            // as start-up leaves them: "tooltip" is on
    PostMessageA(window_, WM_COMMAND, 40008, 0); // "Show tray balloon tip"
    ASSERT_TRUE(Pump([] { return ReadRaw("tooltip") == std::string("0\0\0\0", 4); }, 5000));
    EXPECT_EQ(0, ticksSeen_) << "answered without waiting for a tick";
    EXPECT_EQ(1u, g_timerAsks.size());
}

TEST_F(IdleCycleTest, RefusedSlowTimerKeepsTheTickAndIsAskedAgain) {
    StartReminding(true);
    g_refuseSlowTimers = true;
    Tick();
    ASSERT_EQ(2u, g_timerAsks.size());
    EXPECT_GT(g_timerAsks[0].periodMs, 100u);
    EXPECT_EQ(100u, g_timerAsks[1].periodMs)
        << "a refused change must not leave the agent tickless";
    EXPECT_EQ(1u, TakeNotices().size());

    g_refuseSlowTimers = false;
    Tick();
    ASSERT_EQ(3u, g_timerAsks.size());
    EXPECT_GT(g_timerAsks[2].periodMs, 100u);
    Tick();
    EXPECT_EQ(3u, g_timerAsks.size());
    EXPECT_TRUE(TakeNotices().empty()) << "a retried timer is no second check";
}

// Over midnight: no faster tick, yet the new day's first tick fetches its rates, reminded of at
// once; the rest of that day fetches nothing more.
TEST_F(IdleCycleTest, TheNewDaysFirstTickFetchesItsRatesOnce) {
    LoopbackHttpServer server(kRatesReply);
    ASSERT_TRUE(server.Listening());
    g_fakeNow = LocalTime(2026, 3, 10, 23, 50, 30);
    const time_t midnight = LocalTime(2026, 3, 11, 0, 0);
    StartReminding(true);
    for (; g_fakeNow < midnight; Advance(g_timerAsks.back().periodMs / 1000)) {
        Tick();
        ASSERT_FALSE(g_agent.downloader) << "fetched before the day was over";
        ASSERT_FALSE(g_timerAsks.empty());
        ASSERT_GE(g_timerAsks.back().periodMs, 1000u) << "a fast tick to watch the date";
    }
    EXPECT_LE(g_fakeNow, midnight + 2) << "the new day's first tick came late";
    EXPECT_LE(g_timerAsks.size(), 2u);
    SendMessageA(window_, WM_USER, 0, NIN_BALLOONTIMEOUT); // the last reminder has gone
    TakeNotices();
    Tick();
    ASSERT_FALSE(g_agent.updatedToday) << "the new day's first tick fetched nothing";
    EXPECT_EQ(100u, g_timerAsks.back().periodMs);
    ASSERT_TRUE(TickUntil([] { return g_agent.updatedToday; }));
    Tick();
    EXPECT_EQ(1u, TakeNotices().size()) << "the new rates were not reminded of at once";
    for (int hour = 0; hour < 23; ++hour, Advance(3601))
        Tick();
    EXPECT_EQ(1, server.Requests());
}

// A wake replaces at once the attempt the sleep cut (ten minutes, short of its recycle), once for
// Windows's two words of one wake; after three days asleep it fetches at once, before any tick.
TEST_F(IdleCycleTest, AWakeReplacesACutAttemptAndFetchesANewDayAtOnce) {
    LoopbackHttpServer server(""); // accepts, then never answers
    ASSERT_TRUE(server.Listening());
    ASSERT_TRUE(TickUntil([] { return g_agent.requestSent; }));
    server.SetReply(kRatesReply);
    Advance(600);
    PostMessageA(window_, WM_POWERBROADCAST, PBT_APMRESUMEAUTOMATIC, 0);
    PostMessageA(window_, WM_POWERBROADCAST, PBT_APMRESUMESUSPEND, 0);
    ASSERT_TRUE(Pump([] { return g_agent.updatedToday; }, 5000)) << "the cut attempt waited";
    EXPECT_EQ(2, server.Connections());

    Advance(3 * 86400);
    PostMessageA(window_, WM_POWERBROADCAST, PBT_APMRESUMEAUTOMATIC, 0);
    ASSERT_TRUE(Pump([] { return !g_agent.updatedToday; }, 5000));
    EXPECT_EQ(0, ticksSeen_) << "a wake waited for a tick";
    ASSERT_TRUE(Pump([] { return g_agent.updatedToday; }, 5000));
    EXPECT_EQ(3, server.Connections());
}

// The clock set back a day and put right fetches nothing twice. Set a year ahead and then put
// right, each change fetches at once, and the next day fetches again.
TEST_F(IdleCycleTest, AClockSetBackFetchesNoDayTwiceAndOneAYearAheadStopsNothing) {
    LoopbackHttpServer server(kRatesReply);
    ASSERT_TRUE(server.Listening());
    const time_t today = g_fakeNow;
    StartReminding(true);
    for (time_t at : {today, today - 86400, LocalTime(2026, 3, 10, 0, 0, 30), today + 7200}) {
        g_fakeNow = at;
        Tick();
    }
    EXPECT_EQ(0, server.Connections()) << "a clock set back fetched a day again";
    const struct {
        time_t at;
        UINT message;
    } steps[] = {{today + 365 * 86400, WM_TIMECHANGE},
                 {today + 7260, WM_TIMECHANGE},
                 {today + 86400, WM_TIMER}};
    for (const auto& step : steps) {
        g_fakeNow = step.at;
        SendMessageA(window_, step.message, kTimerId, 0);
        ASSERT_FALSE(g_agent.updatedToday) << "nothing fetched " << step.at - today << " s on";
        ASSERT_TRUE(TickUntil([] { return g_agent.updatedToday; }));
    }
    EXPECT_EQ(3, server.Requests());
}

} // namespace
