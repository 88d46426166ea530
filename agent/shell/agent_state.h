// The agent's process-wide state: filled by start-up, used by the main window, tray and About box.
#pragma once
#include <windows.h>
#include <shellapi.h>
#include <time.h>

class Downloader;
class Gif32;

typedef BOOL(WINAPI* NotifyIconFn)(DWORD message, PNOTIFYICONDATAA data);
typedef time_t (*ClockFn)(time_t*);
typedef UINT_PTR(WINAPI* SetTimerFn)(HWND window, UINT_PTR id, UINT periodMs, TIMERPROC proc);

enum { kFrameCount = 28, kTimerId = 100, kTimerPeriodMs = 100 };
// Reminding has only the hourly check and the date left to watch: a tick a minute serves both.
enum { kSlowTimerPeriodMs = 60000 };

struct AgentState {
    UINT syncResultMessage;     // "zlv_kelpo_palm_synch"
    UINT taskbarCreatedMessage; // "TaskbarCreated", broadcast when the shell restarts
    time_t lastRecycleTime;     // process start, then each 15-minute recycle
    HINSTANCE instance;
    HANDLE instanceMutex;
    char* agentFolder; // heap text, no final separator: the program's folder, its documents
    char* ratesFolder; // heap text, no final separator: the user's own, "target", the rates file
    HICON classIcon;
    HMODULE shellModule;       // shell32.dll, may be null
    NotifyIconFn notify;       // bound Shell_NotifyIcon, may be null
    HWND notifyAreaWindow;     // "TrayNotifyWnd" on shells without balloons
    HBITMAP balloonBitmaps[3]; // 139, 137, 138
    bool updatedToday;
    time_t lastUpdateTime;     // the last completed download, "lastupdate"; 0 for none
    time_t nextDateCheck;      // when reminding looks at the date again; 0 until worked out
    time_t dateCheckFrom;      // when worked out: a clock set back behind it looks at once
    HICON frames[kFrameCount]; // icons 104..131
    HMENU menu;                // menu 134
    HMENU popupMenu;           // its sub-menu 0
    HWND mainWindow;
    UINT tickPeriodMs;           // what timer 100 was last set to; 0 before the first
    NOTIFYICONDATAA* trayRecord; // long or short form, on the heap
    bool trayAdded;
    int frameCounter;
    time_t lastReminderTime;
    Downloader* downloader;
    bool requestSent;
    bool connectAbandoned; // stopped at the connect deadline
    time_t attemptStartTime;
    Downloader* retiredDownloader; // stopped, destroyed once its worker has ended
    time_t lastRatesWriteTime;     // last failed attempt to write a completed download
    HWND aboutWindow;
    Gif32* aboutPicture;

    // Seams for tests: the agent's clock, null meaning time(); and how timer 100 is set, null
    // meaning SetTimer.
    ClockFn clock;
    SetTimerFn setTimer;
};

extern AgentState g_agent;

// What time() gives, read straight from the system: under Wine the C runtime's time() also works
// out the time zone on every call, which made up a third of the idle agent's 100 ms tick.
inline time_t SystemNow() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER ticks; // 100 ns since 1601
    ticks.LowPart = now.dwLowDateTime;
    ticks.HighPart = now.dwHighDateTime;
    return static_cast<time_t>((ticks.QuadPart - 116444736000000000ULL) / 10000000ULL);
}

inline time_t AgentNow() {
    return g_agent.clock ? g_agent.clock(nullptr) : SystemNow();
}
