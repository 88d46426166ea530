// A real hidden main window driven in-process: fake clock, a recorder in place of the shell's
// notify function, a scratch agent folder with a rates folder of its own inside, no machine-wide
// defaults, and a small HTTP server on 127.0.0.1:80.
#pragma once
#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "agent/shell/agent_state.h"
#include "agent/shell/settings.h"
#include "tests/win/common/file_helpers.h"
#include "tests/win/common/loopback_http.h"
#include "tests/win/common/registry_helpers.h"

struct TrayCall {
    DWORD message;
    NOTIFYICONDATAA data; // the first cbSize bytes as received, the rest zero
};

extern std::vector<TrayCall> g_trayCalls;
// The agent's clock: every case starts at 10:00 on 10 March 2026, local time, far from midnight.
extern time_t g_fakeNow;
// A local wall-clock time as the system converts it, in seconds since 1970.
time_t LocalTime(int year, int month, int day, int hour, int minute, int second = 0);
// What the start-up initialisers left in the agent state, before any case touched it.
extern AgentState g_atStart;

// The stored bytes of a settings value; empty when absent.
std::string ReadRaw(const char* name);

void WriteFileText(const std::string& path, const std::string& text);

// Whether the popup menu's "&Settings" sub-menu shows item id checked.
bool Checked(UINT id);

extern const char kRatesReply[]; // a two-rate page, as a server on 127.0.0.1:80 answers
extern const char kUpdateReady[];
extern const char kSyncSucceeded[];

class ShellTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // One WM_TIMER 100 through the window procedure.
    void Tick();
    // Ticks with short real pauses until done() or ms have passed; true when done() held.
    template <class F> bool TickUntil(F done, DWORD ms = 8000) {
        DWORD start = GetTickCount();
        while (GetTickCount() - start < ms) {
            Tick();
            if (done()) return true;
            Sleep(20);
        }
        return false;
    }
    void Advance(time_t seconds) { g_fakeNow += seconds; }
    LRESULT Command(UINT id);
    // Notices the recorder saw (NIF_INFO set) since the last call.
    std::vector<TrayCall> TakeNotices();
    std::string RatesPath() const { return ratesFolder_ + "\\mrvrates.zlv"; }
    void SetAgentFolder(const std::string& folder);
    void SetRatesFolder(const std::string& folder);
    void UseShortRecord(); // a shell without balloon tips

    HWND window_ = nullptr;
    std::string folder_, ratesFolder_;
    size_t noticesSeen_ = 0;
    MachineDefaults* noDefaults_ = nullptr;
};

// Frame i is this fake handle, so the recorder tells frames apart; the shell never sees them.
inline HICON FakeFrame(int i) {
    return reinterpret_cast<HICON>(static_cast<UINT_PTR>(0x5000 + i));
}
