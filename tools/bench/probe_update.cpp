// The update cycle in this process: download time from the first tick, message-loop stalls while
// the server cannot be reached, and memory over many whole update cycles.
#include <stdlib.h>

#include "agent/shell/main_window.h"
#include "agent/shell/settings.h"
#include "agent/update/downloader.h"
#include "tools/bench/probe.h"

namespace {

time_t g_fakeNow;

// Nine in the morning in the bench's zone (UTC): the steps of a run stay on that day, so no run
// fetches the next day's rates as well.
time_t MorningOfToday() {
    const time_t kDay = 86400;
    return time(nullptr) / kDay * kDay + 9 * 3600;
}

time_t FakeClock(time_t* out) {
    if (out) *out = g_fakeNow;
    return g_fakeNow;
}

int Count(const char* text, int low, int high) {
    int n = text ? atoi(text) : 0;
    if (n < low || n > high) Fail("count %s is not between %d and %d", text ? text : "", low, high);
    return n;
}

// Sends WM_NULL to the window from another thread, again and again, keeping the longest answer.
struct StallWatch {
    HWND window = nullptr;
    volatile LONG stop = 0;
    double longestMs = 0;
    int replies = 0;
    HANDLE thread = nullptr;

    static DWORD WINAPI Run(void* self) {
        StallWatch* w = static_cast<StallWatch*>(self);
        while (!w->stop) {
            double start = NowMs();
            DWORD_PTR result = 0;
            if (SendMessageTimeoutA(w->window, WM_NULL, 0, 0, SMTO_NORMAL, 15000, &result)) {
                double waited = NowMs() - start;
                if (waited > w->longestMs) w->longestMs = waited;
                ++w->replies;
            }
            Sleep(2);
        }
        return 0;
    }
    void Start(HWND w) {
        window = w;
        thread = CreateThread(nullptr, 0, Run, this, 0, nullptr);
        if (!thread) Fail("no watch thread");
    }
    // Keeps answering while the watch finishes its last send.
    void Finish() {
        stop = 1;
        while (MsgWaitForMultipleObjects(1, &thread, FALSE, INFINITE, QS_ALLINPUT) !=
               WAIT_OBJECT_0) {
            MSG msg;
            while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
                DispatchMessageA(&msg);
        }
        CloseHandle(thread);
        thread = nullptr;
    }
};

// The agent's window and tray icon in a fresh folder of its own; both gone with it.
struct ProbeAgent {
    ProbeAgent(const char* tag, ClockFn clock) : folder(TempFolder(tag)) {
        if (!host.Open(folder, clock)) Fail("the agent's window or tray icon did not come up");
    }
    ~ProbeAgent() {
        host.Close();
        RemoveDirectoryA(folder.c_str());
    }
    std::string folder;
    AgentHost host;
};

} // namespace

// download RUNS: real clock, real timer and message loop, the page from 127.0.0.1.
int RunDownload(int argc, char** argv) {
    int runs = Count(argc > 0 ? argv[0] : nullptr, 1, 100);
    ProbeAgent agent("zbd", nullptr);
    AgentHost& host = agent.host;
    std::vector<double> ms, ticks;
    DWORD fileBytes = 0;
    for (int r = 0; r < runs; ++r) {
        host.FreshStart();
        StartTicking(host.Window(), kTimerPeriodMs);
        UINT_PTR watchdog = SetTimer(nullptr, 0, 10000, nullptr);
        double first = -1, took = -1;
        int n = 0;
        MSG msg;
        // The agent's own loop, with a note of when the first tick begins.
        while (took < 0 && GetMessageA(&msg, nullptr, 0, 0) > 0) {
            if (msg.message == WM_TIMER && !msg.hwnd && msg.wParam == watchdog) break;
            bool tick = msg.message == WM_TIMER && msg.hwnd == host.Window() &&
                        msg.wParam == static_cast<WPARAM>(kTimerId);
            if (tick) {
                if (first < 0) first = NowMs();
                ++n;
            }
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
            // A tick or the worker's word that it has ended may have written the page.
            if (first >= 0 && msg.hwnd == host.Window() && FileExists(host.RatesPath()))
                took = NowMs() - first;
        }
        KillTimer(nullptr, watchdog);
        KillTimer(host.Window(), kTimerId);
        if (took < 0) Fail("run %d: no rates file 10 s after the first tick", r + 1);
        ms.push_back(took);
        ticks.push_back(n);
        fileBytes = FileSize(host.RatesPath());
    }
    JsonLine("download").Add("ms", ms).Add("ticks", ticks).Add("file_bytes", fileBytes).Print();
    return 0;
}

// stall RUNS SECONDS MODE: the real timer and loop while attempts cannot reach the server; the
// clock is moved past the connect deadline and then past the recycle. MODE "idle" measures the
// same loop with nothing to download, as the floor.
int RunStall(int argc, char** argv) {
    int runs = Count(argc > 0 ? argv[0] : nullptr, 1, 20);
    int seconds = Count(argc > 1 ? argv[1] : nullptr, 1, 60);
    bool idle = argc > 2 && strcmp(argv[2], "idle") == 0;
    g_fakeNow = MorningOfToday();
    ProbeAgent agent("zbs", FakeClock);
    AgentHost& host = agent.host;
    std::vector<double> longest, longestTick, replies, attempts, abandoned;
    double span = seconds * 1000.0;
    for (int r = 0; r < runs; ++r) {
        host.FreshStart();
        if (idle) {
            g_agent.updatedToday = true;
            g_agent.lastUpdateTime = AgentNow();
        }
        StartTicking(host.Window(), kTimerPeriodMs);
        StallWatch watch;
        watch.Start(host.Window());
        double start = NowMs(), tickMax = 0;
        bool pastDeadline = false, pastRecycle = false, sawAbandoned = false;
        int attemptCount = 0;
        Downloader* seen = nullptr;
        while (NowMs() - start < span) {
            double at = NowMs() - start;
            if (!pastDeadline && at > span / 3) {
                g_fakeNow += 11; // the attempt is still connecting: stopped at its deadline
                pastDeadline = true;
            }
            if (!pastRecycle && at > span / 2) {
                g_fakeNow += 901; // recycled, and a new attempt begins
                pastRecycle = true;
            }
            MSG msg;
            if (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
                double before = NowMs();
                TranslateMessage(&msg);
                DispatchMessageA(&msg);
                double took = NowMs() - before;
                if (msg.message == WM_TIMER && took > tickMax) tickMax = took;
            } else {
                MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
            }
            if (g_agent.downloader && g_agent.downloader != seen) ++attemptCount;
            seen = g_agent.downloader;
            if (g_agent.connectAbandoned) sawAbandoned = true;
        }
        KillTimer(host.Window(), kTimerId);
        watch.Finish();
        longest.push_back(watch.longestMs);
        longestTick.push_back(tickMax);
        replies.push_back(watch.replies);
        attempts.push_back(attemptCount);
        abandoned.push_back(sawAbandoned ? 1 : 0);
    }
    JsonLine("stall")
        .Add("mode", std::string(idle ? "idle" : "download"))
        .Add("longest_ms", longest)
        .Add("longest_tick_ms", longestTick)
        .Add("replies", replies)
        .Add("attempts", attempts)
        .Add("abandoned", abandoned)
        .Print();
    return 0;
}

namespace {

LRESULT CALLBACK IdleWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_TIMER) return 0;
    return DefWindowProcA(window, message, wParam, lParam);
}

} // namespace

// tick SAMPLES: what one timer tick of the idle agent costs (reminder mode, nothing due), beside
// a window whose timer handler does nothing. The ticks come 100 ms apart, as the timer spaces
// them, so each finds the caches as cold as the agent's ticks do.
int RunTick(int argc, char** argv) {
    int samples = Count(argc > 0 ? argv[0] : nullptr, 1, 1000);
    ProbeAgent agent("zbt", nullptr);
    AgentHost& host = agent.host;
    g_agent.updatedToday = true;
    g_agent.lastUpdateTime = AgentNow();
    host.Tick(); // the first tick of reminding looks for the rates file; later ones wait an hour

    const char kClass[] = "ZelvanticBenchIdleTimer";
    RegisterProbeClass(kClass, IdleWindowProc);
    HWND idle = CreateWindowExA(0, kClass, "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                GetModuleHandleA(nullptr), nullptr);
    if (!idle) Fail("no window for the idle timer");
    std::vector<double> agentUs, idleUs;
    for (int i = 0; i < samples; ++i) {
        Sleep(50);
        double start = NowMs();
        host.Tick();
        agentUs.push_back((NowMs() - start) * 1000.0);
        Sleep(50);
        start = NowMs();
        SendMessageA(idle, WM_TIMER, kTimerId, 0);
        idleUs.push_back((NowMs() - start) * 1000.0);
    }
    DestroyWindow(idle);
    JsonLine("tick").Add("agent_us", agentUs).Add("baseline_us", idleUs).Print();
    return 0;
}

// cycles COUNT: whole days of the agent, in fast motion: a download from 127.0.0.1 written to
// the rates file, the hourly reminder, the conduit's success notice, the file taken away.
int RunCycles(int argc, char** argv) {
    int count = Count(argc > 0 ? argv[0] : nullptr, 1, 1000);
    g_fakeNow = MorningOfToday();
    WriteSettingFlag("tooltip", true); // the notices take their real path
    ProbeAgent agent("zbc", FakeClock);
    AgentHost& host = agent.host;
    const int marks[] = {1, 2, 5, 10, 25, 50, 75, 100, 200, 500, 1000};
    std::vector<double> at, blocks, heap, priv, nextHandle;
    for (int i = 1; i <= count; ++i) {
        if (i > 1) g_fakeNow += 86400 - 3601; // the next morning: the agent's look at the date
        bool written = PumpUntil(
            [&] {
                host.Tick();
                return FileExists(host.RatesPath());
            },
            10000);
        if (!written) Fail("cycle %d: no rates file within 10 s", i);
        g_fakeNow += 3601;
        host.Tick(); // the hourly reminder finds the file
        SendMessageA(host.Window(), g_agent.syncResultMessage, 2, 0);
        if (!DeleteFileA(host.RatesPath().c_str())) Fail("cycle %d: rates file not deletable", i);
        for (int m : marks) {
            if (m != i && i != count) continue;
            MemorySample s = SampleMemory();
            at.push_back(i);
            blocks.push_back(s.heapBlocks);
            heap.push_back(s.heapBytes);
            priv.push_back(s.privateBytes);
            nextHandle.push_back(s.nextHandle);
            break;
        }
    }
    WriteSettingFlag("tooltip", false);
    JsonLine("cycles")
        .Add("cycle", at)
        .Add("heap_blocks", blocks)
        .Add("heap_bytes", heap)
        .Add("private_bytes", priv)
        .Add("next_handle", nextHandle)
        .Print();
    return 0;
}
