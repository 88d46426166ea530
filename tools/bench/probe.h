// bench_probe: measures the agent's own code in this process (download, message-loop stalls,
// memory over update cycles, the logo) and the start-up of programs it launches. Each command
// prints one JSON object per line on standard output; the bench driver reads them.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "agent/shell/agent_state.h"

double NowMs(); // performance counter, milliseconds

// One JSON object, written field by field.
class JsonLine {
  public:
    explicit JsonLine(const char* kind);
    JsonLine& Add(const char* name, double value);
    JsonLine& Add(const char* name, const std::string& value);
    JsonLine& Add(const char* name, const std::vector<double>& values);
    void Print(); // the line, flushed at once
  private:
    std::string text;
};

void Fail(const char* format, ...); // an error line for the driver, then exit code 2

std::string TempFolder(const char* tag); // a new empty folder under %TEMP%
// A window class of the probe's own, registered once however often it is asked for.
void RegisterProbeClass(const char* name, WNDPROC proc, HBRUSH background = nullptr);
bool FileExists(const std::string& path);
DWORD FileSize(const std::string& path); // INVALID_FILE_SIZE when absent

// Handles messages for up to ms, or until done() holds after a message; false on time-out.
template <class Done> bool PumpUntil(Done done, double ms) {
    double end = NowMs() + ms;
    while (NowMs() < end) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        if (done()) return true;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
    return done();
}

// The agent's main window, tray icon and update cycle in this process, set up as start-up sets
// them up, with the real shell. The clock is the agent's seam: null for the real one.
class AgentHost {
  public:
    bool Open(const std::string& folder, ClockFn clock);
    void Close();
    ~AgentHost() { Close(); }
    // Back to "not yet downloaded today" with no attempt running, as at a fresh start.
    void FreshStart();
    void Tick(); // one WM_TIMER 100 through the window procedure
    HWND Window() const { return window; }
    std::string RatesPath() const { return folder + "\\mrvrates.zlv"; }

  private:
    HWND window = nullptr;
    std::string folder;
};

// Memory and handles of this process.
struct MemorySample {
    double heapBlocks; // busy blocks over all heaps
    double heapBytes;  // their sizes, as the heaps report them (with what a block could not split)
    double privateBytes; // private pages in use: Linux's count under Wine, else the system's
    double nextHandle;   // a new handle's value: handles are numbered lowest free first
};
MemorySample SampleMemory();

int RunDownload(int argc, char** argv);
int RunStall(int argc, char** argv);
int RunCycles(int argc, char** argv);
int RunTick(int argc, char** argv);
int RunLogo(int argc, char** argv);
int RunStartup(int argc, char** argv);
int RunExit(int argc, char** argv);
int RunWait(int argc, char** argv);
int RunRequests(int argc, char** argv);
