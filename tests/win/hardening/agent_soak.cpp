// Thirty simulated days of the agent in one process: each day the agent's start-up runs on a
// thread of its own, as a fresh process would, against a fake clock; it downloads that day's page
// from a server inside this program, its menu is used, a HotSync takes the page to the handheld,
// and the Exit command ends it. Some runs cross midnight. Between runs this process counts its
// handles, GDI objects and private memory, which the agent's runs must leave flat.
//
// It runs in the layout of a user's PC: this program and conduit.dll alone in the product folder,
// the Palm Desktop (HotSync Manager, Conduit Manager, Sync Manager) in its own folder, found
// through the user's registry as the agent finds it; the HotSync is started from there.
//
//   agent_soak [DAYS]   prints one PASS/FAIL line per check and the figures.
#include <winsock2.h>
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <string>
#include <vector>

#include "agent/resources/resource.h"
#include "agent/shell/agent_state.h"
#include "agent/shell/main_window.h"
#include "agent/shell/startup.h"
#include "tests/win/common/build_kind.h"
#include "tests/win/common/palm_desktop.h"
#include "tests/win/common/resource_counts.h"
#include "tests/win/hardening/harness.h"

namespace {

volatile LONG g_now; // seconds since 1970, read by the agent's thread through its clock seam

time_t SoakClock(time_t* out) {
    time_t now = static_cast<time_t>(static_cast<unsigned long>(g_now));
    if (out) *out = now;
    return now;
}

void SetNow(time_t t) {
    InterlockedExchange(&g_now, static_cast<LONG>(t));
}

std::string g_folder; // this program's folder: the agent folder of every run
std::string g_rates;  // the user's rates folder, which every run makes and names in "target"
int g_failures = 0;

void Report(bool ok, const std::string& name, const std::string& detail = "") {
    printf("%s soak: %s%s%s\n", ok ? "PASS" : "FAIL", name.c_str(), detail.empty() ? "" : " -- ",
           detail.c_str());
    fflush(stdout);
    if (!ok) ++g_failures;
}

template <typename Pred> bool WaitUntil(DWORD ms, Pred done) {
    DWORD end = GetTickCount() + ms;
    while (!done()) {
        if (static_cast<LONG>(end - GetTickCount()) < 0) return false;
        Sleep(20);
    }
    return true;
}

std::string RatesPath() {
    return g_rates + "\\mrvrates.zlv";
}

bool RatesFileThere() {
    return FileExists(RatesPath());
}

// The Palm Desktop's HotSync Manager run to its end; its message reaches the agent's thread.
DWORD HotSync(const std::string& arguments) {
    return RunProgram(PalmFolder() + "\\hotsync.exe", arguments).exitCode;
}

// The handheld the stand-in writes to, as test_soak.py points it.
bool HandheldRecords(std::vector<Bytes>* records) {
    char dir[MAX_PATH];
    if (!GetEnvironmentVariableA("ZLV_HANDHELD_DIR", dir, sizeof dir)) return false;
    return ::HandheldRecords(dir, records);
}

std::string ReadFlag(const char* name) {
    DWORD type = 0;
    Bytes data;
    if (!ReadSetting(name, &type, &data)) return "";
    return std::string(data.begin(), data.end()).c_str();
}

// The day's page: every rate carries the day, so pages never repeat.
std::string PageOfDay(int day) {
    std::string page;
    const char* codes[] = {"USD", "EUR", "GBP", "JPY", "CHF", "CAD"};
    for (int i = 0; i < 6; ++i) {
        char line[64];
        snprintf(line, sizeof line, "%s\tDay %02d\t%d.%04d\n", codes[i], day, i + 1,
                 (day * 97 + i * 13) % 10000);
        page += line;
    }
    return page;
}

// What this process holds (resource_counts counts them one by one under Wine).
struct Counts {
    DWORD handles, gdi;
    SIZE_T privateKiB;
};

Counts Measure() {
    return {HandleCount(), GdiObjectCount(), PrivateKiB()};
}

std::string Figures(const Counts& c) {
    char text[128];
    snprintf(text, sizeof text, "%lu handles, %lu GDI objects, %lu KiB private", c.handles, c.gdi,
             static_cast<unsigned long>(c.privateKiB));
    return text;
}

// A fresh process as far as the agent can tell: its state as the two start-up initialisers
// leave it, with the fake clock behind the seam.
void FreshAgentState() {
    ZeroMemory(&g_agent, sizeof g_agent);
    g_agent.syncResultMessage = RegisterWindowMessageA("zlv_kelpo_palm_synch");
    g_agent.taskbarCreatedMessage = RegisterWindowMessageA("TaskbarCreated");
    g_agent.clock = SoakClock;
    g_agent.lastRecycleTime = AgentNow();
}

// Every run's start-up happens on one thread that lives through all runs, so what the system
// keeps per thread is not mistaken for what a run leaves behind.
struct AgentRunner {
    HANDLE thread = nullptr, go = nullptr, done = nullptr;
    volatile LONG quit = 0;
    volatile LONG exitCode = 0;

    bool Start() {
        go = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        done = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        thread = CreateThread(nullptr, 0, Loop, this, 0, nullptr);
        return go && done && thread;
    }
    static DWORD WINAPI Loop(void* self) {
        AgentRunner* r = static_cast<AgentRunner*>(self);
        while (WaitForSingleObject(r->go, INFINITE) == WAIT_OBJECT_0 && !r->quit) {
            r->exitCode = AgentMain(GetModuleHandleA(nullptr), "");
            // The process would end here and take the window class with it.
            UnregisterClassA(ZLV_MAIN_WINDOW_CLASS, GetModuleHandleA(nullptr));
            SetEvent(r->done);
        }
        return 0;
    }
    void Stop() {
        quit = 1;
        SetEvent(go);
        WaitForSingleObject(thread, 5000);
        CloseHandle(thread);
        CloseHandle(go);
        CloseHandle(done);
    }
};

bool LastUpdateStored() {
    DWORD value = 0;
    return ReadDword("lastupdate", &value) && value == static_cast<DWORD>(g_now);
}

// While it reminds, the agent's timer ticks once a minute: the soak delivers the tick itself, and
// looks at what it left on the agent's own thread as the window procedure returns, before any
// later message (a balloon's time-out clears the notice) could change it.
const WPARAM kUpdateTimer = 100;
const char kUpdateReady[] = "Zelvantic update is now ready \nfor synchronization.   You can now "
                            "hot sync \nyour device to complete the updates.";
const DWORD kInformation = 1;
const char kHotSyncDone[] =
    "Successfully updated the currency \ndatabase during hot sync operation.";
const DWORD kLongRecordSize = ByBuild(488, 504); // the tray record with balloon fields

struct TickSeen {
    bool seen = false;
    time_t lastReminder = 0;
    std::string notice;
    DWORD kind = 0;
} g_tickSeen;

LRESULT CALLBACK AfterTick(int code, WPARAM wParam, LPARAM lParam) {
    const CWPRETSTRUCT* call = reinterpret_cast<const CWPRETSTRUCT*>(lParam);
    if (code == HC_ACTION && call->message == WM_TIMER && call->wParam == kUpdateTimer) {
        g_tickSeen.seen = true;
        g_tickSeen.lastReminder = g_agent.lastReminderTime;
        const NOTIFYICONDATAA* record = g_agent.trayRecord;
        if (record && record->cbSize >= kLongRecordSize) {
            g_tickSeen.notice.assign(record->szInfo,
                                     strnlen(record->szInfo, sizeof record->szInfo));
            g_tickSeen.kind = record->dwInfoFlags;
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

TickSeen Tick(HWND window) {
    g_tickSeen = TickSeen();
    HHOOK hook = SetWindowsHookExA(WH_CALLWNDPROCRET, AfterTick, nullptr,
                                   GetWindowThreadProcessId(window, nullptr));
    if (hook) {
        SendMessageA(window, WM_TIMER, kUpdateTimer, 0);
        UnhookWindowsHookEx(hook);
    }
    return g_tickSeen;
}

// The notice the tray record holds now.
std::string NoticeShown() {
    const NOTIFYICONDATAA* record = g_agent.trayRecord;
    if (!record || record->cbSize < kLongRecordSize) return "";
    return std::string(record->szInfo, strnlen(record->szInfo, sizeof record->szInfo));
}

struct RunResult {
    bool ok = true;
    std::string problem;
    void Fail(const std::string& what) {
        if (ok) problem = what;
        ok = false;
    }
};

// One start of the agent on `day`, from `startAt`; crossing midnight moves the clock into the
// next day while it runs.
RunResult RunDay(LoopbackHttpServer& server, AgentRunner& runner, int day, time_t startAt,
                 bool crossMidnight, std::vector<Bytes>* delivered) {
    RunResult r;
    SetNow(startAt);
    FreshAgentState();
    std::string reply = RatesReply(PageOfDay(day));
    server.SetReply(reply);
    LONG before = server.Requests();

    SetEvent(runner.go);
    if (!WaitUntil(10000, [] { return g_agent.mainWindow && IsWindow(g_agent.mainWindow); })) {
        r.Fail("no main window");
        if (WaitForSingleObject(runner.done, 10000) != WAIT_OBJECT_0) r.Fail("start-up hangs");
        return r;
    }
    HWND window = g_agent.mainWindow;
    if (!WaitUntil(10000, RatesFileThere) || !WaitUntil(2000, LastUpdateStored))
        r.Fail("no download");

    // The menu as a user would use it: balloons on, the About box opened and closed.
    PostMessageA(window, WM_COMMAND, IDM_TOOLTIP, 0);
    if (!WaitUntil(3000, [] { return ReadFlag("tooltip") == "1"; }))
        r.Fail("\"Show tray balloon tip\" did not turn on");
    PostMessageA(window, WM_COMMAND, IDM_ABOUT, 0);
    if (!WaitUntil(3000, [] { return g_agent.aboutWindow != nullptr; })) r.Fail("no About box");
    Sleep(150); // a few frames of the logo
    if (g_agent.aboutWindow) PostMessageA(g_agent.aboutWindow, WM_COMMAND, IDCANCEL, 0);
    if (!WaitUntil(3000, [] { return g_agent.aboutWindow == nullptr; }))
        r.Fail("the About box did not close");

    // The first ticks of reminding have looked for the file; the next hour has not begun.
    TickSeen tick = Tick(window);
    if (!tick.seen) r.Fail("a tick sent to the agent's window never reached it");
    if (tick.lastReminder != startAt) r.Fail("no reminder check as reminding began");
    if (crossMidnight) {
        SetNow(startAt - startAt % 86400 + 86400 + 600); // ten past midnight
        if (Tick(window).lastReminder != startAt) r.Fail("a reminder check before the hour was up");
    }
    SetNow(static_cast<time_t>(g_now) + 3601); // the hourly reminder is due
    tick = Tick(window);
    if (tick.lastReminder != static_cast<time_t>(g_now))
        r.Fail("no reminder check once the hour was up");
    else if (tick.notice != kUpdateReady || tick.kind != kInformation)
        r.Fail("the hourly reminder showed \"" + tick.notice + "\" of kind " +
               std::to_string(tick.kind));

    DWORD code = HotSync("");
    std::vector<Bytes> records;
    if (code != 0) {
        r.Fail("HotSync ended with " + std::to_string(code));
    } else if (!HandheldRecords(&records) || records.size() != 1) {
        r.Fail("the handheld does not hold one rates record");
    } else {
        delivered->push_back(records[0]);
        if (records[0] != RatesBodyOf(PageOfDay(day)))
            r.Fail("the handheld holds another page than the day's");
    }
    if (RatesFileThere()) r.Fail("the rates file stayed after the HotSync");
    // The conduit's word has reached the agent, which told the user (balloons are on).
    std::string told = NoticeShown();
    if (code == 0 && told != kHotSyncDone)
        r.Fail("after the HotSync the agent showed \"" + told + "\"");

    PostMessageA(window, WM_COMMAND, IDM_TOOLTIP, 0);
    if (!WaitUntil(3000, [] { return ReadFlag("tooltip") == "0"; }))
        r.Fail("\"Show tray balloon tip\" did not turn off");
    SetNow(static_cast<time_t>(g_now) + 5 * 3600); // hours later, still no second download
    if (Tick(window).lastReminder != static_cast<time_t>(g_now))
        r.Fail("no reminder check hours after the HotSync");

    PostMessageA(window, WM_COMMAND, IDM_EXIT, 0);
    if (WaitForSingleObject(runner.done, 10000) != WAIT_OBJECT_0) {
        r.Fail("the Exit command did not end the run");
    } else if (runner.exitCode != 0) {
        r.Fail("start-up ended with " + std::to_string(runner.exitCode));
    }
    LONG downloads = server.Requests() - before;
    if (downloads != 1) r.Fail(std::to_string(downloads) + " downloads in one run");
    return r;
}

} // namespace

int main(int argc, char** argv) {
    int days = argc > 1 ? atoi(argv[1]) : 30;
    wchar_t self[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
    g_folder = Utf8(std::wstring(self, n));
    g_folder.erase(g_folder.find_last_of('\\'));
    g_rates = UserRatesFolder();
    DeleteFileA(RatesPath().c_str());
    DeleteSetting("lastupdate");
    DeleteSetting("tooltip");
    DeleteSetting("startup");

    LoopbackHttpServer server("");
    AgentRunner runner;
    if (!runner.Start() || !server.Listening()) {
        Report(false, "setup", "port 80 is taken");
        return 1;
    }
    if (HotSync("--install-db") != 0) {
        Report(false, "setup", "no handheld database");
        return 1;
    }

    // The Conduit Manager stand-in keeps per-thread data of its C runtime in every fresh load
    // (the shipped conduit does not); one load for the whole soak keeps that out of the counts.
    HMODULE standIn = LoadLibraryW(Wide(PalmFolder() + "\\condmgr.dll").c_str());
    // 1 March 2026, 00:00 UTC: days that start at nine, and every fifth a run from ten to
    // midnight into the next day.
    const time_t first = 1772323200;
    std::vector<Counts> counts;
    std::vector<Bytes> delivered, expected;
    DWORD started = GetTickCount();
    int badRuns = 0;
    for (int day = 1; day <= days; ++day) {
        bool cross = day % 5 == 0;
        time_t start = first + (day - 1) * 86400 + (cross ? 23 * 3600 + 50 * 60 : 9 * 3600);
        expected.push_back(RatesBodyOf(PageOfDay(day)));
        RunResult r = RunDay(server, runner, day, start, cross, &delivered);
        if (!r.ok) {
            ++badRuns;
            Report(false, "day " + std::to_string(day), r.problem);
        }
        counts.push_back(Measure());
    }
    DWORD seconds = (GetTickCount() - started + 500) / 1000;
    Report(badRuns == 0,
           "every run downloaded once, showed its menu, handed its page over through the Palm "
           "Desktop's HotSync and was told of its success",
           std::to_string(days) + " runs in " + std::to_string(seconds) + " s");
    Report(delivered == expected, "every page reached the handheld, in order",
           std::to_string(delivered.size()) + " of " + std::to_string(expected.size()));

    // The first runs load what stays loaded (sockets, the shell, OLE); from then on nothing may
    // grow with the number of runs.
    if (counts.size() >= 4) {
        const Counts& base = counts[2];
        const Counts& last = counts.back();
        std::string detail = "after run 3: " + Figures(base) + "; after run " +
                             std::to_string(counts.size()) + ": " + Figures(last);
        printf("soak figures: after run 1: %s\n", Figures(counts[0]).c_str());
        Report(last.handles <= base.handles + 2, "handles stay flat", detail);
        Report(last.gdi <= base.gdi + 2, "GDI objects stay flat", detail);
        Report(last.privateKiB <= base.privateKiB + 512, "private memory stays flat", detail);
    }
    DeleteSetting("lastupdate");
    DeleteSetting("tooltip");
    runner.Stop();
    if (standIn) FreeLibrary(standIn);
    return g_failures ? 1 : 0;
}
