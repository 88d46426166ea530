#include "agent/shell/main_window.h"

#include <new>

#include <time.h>

#include "agent/owners.h"
#include "agent/path/path_calls.h"
#include "agent/resources/resource.h"
#include "agent/shell/about.h"
#include "agent/shell/agent_state.h"
#include "agent/shell/daily_rules.h"
#include "agent/shell/file_probe.h"
#include "agent/shell/settings.h"
#include "agent/shell/tray.h"
#include "agent/update/byte_string.h"
#include "agent/update/downloader.h"
#include "agent/update/rates_file.h"
#include "agent/update/update_address.h"

namespace {

const double kRecycleSeconds = 900.0;
const double kReminderSeconds = 3600.0;
// Start's own wait, kept as the attempt's deadline now that the tick no longer blocks on it.
const double kConnectSeconds = 10.0;
// How soon a download the rates file could not take is written again (the conduit may hold it).
const double kRatesRetrySeconds = 5.0;
// How long an attempt's first tick waits for its connection. A near server answers within a few
// milliseconds and is asked at once, a whole tick sooner; a far or silent one is looked for on
// the next ticks, so the tray is never held for long.
const DWORD kQuickConnectMs = 30;
// How soon reminding looks at the date again when the calendar gives no next day.
const time_t kDateRecheckSeconds = 3600;

// The conduit's word on a HotSync, in the sync-result message's first parameter.
const WPARAM kSyncUpdated = 2;
const WPARAM kSyncNotUpdated = 3;
// ShellExecute's results up to this one are errors.
const INT_PTR kShellExecuteLastError = 32;

const char kSyncSucceeded[] =
    "Successfully updated the currency \ndatabase during hot sync operation.";
const char kSyncFailed[] =
    "An error occurred while updating the currency \ndatabase.  Please check "
    "the hot sync log for \nmore details.";

const char* AgentFolder() {
    return g_agent.agentFolder ? g_agent.agentFolder : "";
}

const char* RatesFolder() {
    return g_agent.ratesFolder ? g_agent.ratesFolder : "";
}

// The worker leaves a response only when the reply reader gave a page.
bool HasCompletedDownload() {
    Downloader* d = g_agent.downloader;
    return d && d->IsFinished() && d->Response().Length() > 0;
}

// A stopped downloader's worker may still sit in a read or a connect; joining it here would
// freeze the tray, so it is destroyed on a later tick once the worker has ended.
void RetireDownloader() {
    Downloader* d = g_agent.downloader;
    g_agent.downloader = nullptr;
    if (!d) return;
    d->Stop();
    if (!d->Thread() || d->IsFinished()) {
        delete d;
        return;
    }
    delete g_agent.retiredDownloader; // a worker 15 minutes old: its waits have long run out
    g_agent.retiredDownloader = d;
}

void CollectRetiredDownloader() {
    Downloader* d = g_agent.retiredDownloader;
    if (d && d->IsFinished()) {
        delete d;
        g_agent.retiredDownloader = nullptr;
    }
}

void SendRequest(Downloader* d) {
    ByteString request;
    request.FormatResource(g_agent.instance, IDS_UPDATE_REQUEST, d->RequestTarget(),
                           d->HostField());
    // Refused only when nothing was sent; then the next tick tries again.
    g_agent.requestSent = d->Send(request);
}

void StartDownload(time_t now) {
    Downloader* d = new (std::nothrow) Downloader;
    if (!d) return;
    g_agent.downloader = d;
    g_agent.requestSent = false;
    g_agent.connectAbandoned = false;
    g_agent.attemptStartTime = now;
    g_agent.lastRatesWriteTime = 0;
    d->NotifyWhenFinished(g_agent.mainWindow, kDownloadDoneMessage);
    // Loaded as it stands, never as a format: a "%" in its path is the address's own. One that
    // does not fit is cut, and the cut one is refused.
    char address[kAddressLimit + 2] = {0};
    LoadStringA(g_agent.instance, IDS_UPDATE_ADDRESS, address, sizeof address);
    if (d->Start(address, true) && d->WaitForConnection(kQuickConnectMs)) SendRequest(d);
}

// "lastupdate" is stored only once the rates are on disk, so a download the file could not take
// is written again later, or fetched again at the next start.
void SaveCompletedDownload(time_t now) {
    if (g_agent.lastRatesWriteTime != 0) {
        double since = difftime(now, g_agent.lastRatesWriteTime);
        if (since >= 0 && since < kRatesRetrySeconds) return; // a clock set back does not stop it
    }
    Downloader* d = g_agent.downloader;
    if (!WriteRatesFile(d->Response(), RatesFolder(), now)) {
        g_agent.lastRatesWriteTime = now;
        return;
    }
    StoreLastUpdate();
    d->Response().Release();
    g_agent.updatedToday = true;
    g_agent.lastUpdateTime = now;
    g_agent.nextDateCheck = 0;
    g_agent.lastReminderTime = 0; // a new rates file: reminded of at once, then hourly
}

void TickEvery(UINT periodMs) {
    if (g_agent.tickPeriodMs == periodMs) return;
    if (StartTicking(g_agent.mainWindow, periodMs)) return;
    // A refused replacement may have taken the old timer with it: the agent keeps a clock.
    StartTicking(g_agent.mainWindow, kTimerPeriodMs);
}

// A tick a minute, the day's last one timed to land just past midnight: a new day's download
// begins in its first seconds with no faster tick to watch for it.
UINT SlowPeriodMs(time_t now) {
    time_t left = g_agent.nextDateCheck - now;
    if (left <= 0 || left >= kSlowTimerPeriodMs / 1000) return kSlowTimerPeriodMs;
    return static_cast<UINT>(left + 1) * 1000;
}

// Whether reminding looks at the date on this tick: on its first, once the next local day has
// begun, and at once when the clock went back behind the last look. Works out the next look.
bool DateCheckDue(time_t now) {
    if (g_agent.nextDateCheck != 0 && now < g_agent.nextDateCheck && now >= g_agent.dateCheckFrom)
        return false;
    time_t next = NextLocalDayStart(now);
    g_agent.nextDateCheck = next > now ? next : now + kDateRecheckSeconds;
    g_agent.dateCheckFrom = now;
    return true;
}

// The date has moved past the last download's: the day's attempts begin, on the 100 ms tick as at
// start, their 15-minute recycle counted from the first.
void BeginNewDay(time_t now) {
    g_agent.updatedToday = false;
    g_agent.nextDateCheck = 0;
    RetireDownloader(); // the last day's, long finished
    g_agent.lastRecycleTime = now;
    TickEvery(kTimerPeriodMs);
}

void CheckForReminder(time_t now) {
    ByteString path;
    path.Format("%s\\%s", RatesFolder(), kRatesFileName);
    if (FileOpensForReading(path.CStr() ? path.CStr() : "") && ReadSettingFlag("tooltip")) {
        ByteString text;
        text.FormatResource(g_agent.instance, IDS_UPDATE_READY);
        ShowTrayNotice(text.CStr(), kNoticeInformation);
    }
    g_agent.lastReminderTime = now;
}

void TickReminding(time_t now) {
    ResetTrayAnimation();
    if (g_agent.lastReminderTime == 0 ||
        WaitIsOver(now, &g_agent.lastReminderTime, kReminderSeconds))
        CheckForReminder(now);
    TickEvery(SlowPeriodMs(now));
}

void TickDownloading(time_t now) {
    Downloader* d = g_agent.downloader;
    if (!d) {
        StartDownload(now);
    } else if (HasCompletedDownload()) {
        // A completed download is not recycled, only got onto disk.
        ResetTrayAnimation();
        SaveCompletedDownload(now);
        return;
    } else {
        // A worker that has ended holds no connection; asking would only cost the tick its waits.
        bool connected = !d->IsFinished() && d->IsConnected();
        if (connected && !g_agent.requestSent) {
            SendRequest(d);
        } else if (!connected && !g_agent.requestSent && !g_agent.connectAbandoned &&
                   WaitIsOver(now, &g_agent.attemptStartTime, kConnectSeconds)) {
            d->Stop(); // no connection in time: this attempt waits for the recycle
            g_agent.connectAbandoned = true;
        }
        if (connected)
            AdvanceTrayAnimation();
        else
            ResetTrayAnimation();
        if (HasCompletedDownload()) {
            SaveCompletedDownload(now);
            return;
        }
    }
    if (WaitIsOver(now, &g_agent.lastRecycleTime, kRecycleSeconds)) {
        g_agent.lastRecycleTime = now;
        RetireDownloader();
    }
}

// The notice stays single-byte: a letter of the path outside the code page shows as the code
// page's default character.
void ShowWarning(UINT stringId, const char* path) {
    ScopedMalloc<char> shown(ShownText(path));
    ByteString text;
    text.FormatResource(g_agent.instance, stringId, shown.Held() ? shown.Get() : "");
    ShowTrayNotice(text.CStr(), kNoticeWarning);
}

bool OpenDocument(const char* path, HWND owner, int show) {
    HINSTANCE result = ShellExecuteA(owner, "open", path, nullptr, nullptr, show);
    return reinterpret_cast<INT_PTR>(result) > kShellExecuteLastError;
}

void OpenBesideAgent(const char* name, bool isManual) {
    ByteString path;
    path.Format("%s%s", AgentFolder(), name);
    const char* full = path.CStr() ? path.CStr() : "";
    if (OpenInShell(full, SW_SHOWDEFAULT)) return;
    // A manual that is there but did not open: nothing on this machine reads PDF.
    ShowWarning(isManual && FileOpensForReading(full) ? IDS_NO_PDF_READER : IDS_CANNOT_OPEN, full);
}

bool OnCommand(HWND window, UINT id) {
    switch (id) {
    case IDM_ABOUT:
        ShowAbout();
        return true;
    case IDM_EXIT:
        DestroyWindow(window);
        PostQuitMessage(0);
        return true;
    case IDM_INSTALL:
        OpenBesideAgent("\\Palm", false);
        return true;
    case IDM_MANUAL:
        OpenBesideAgent("\\Zelvantic for Palm Product Manual.pdf", true);
        return true;
    case IDM_README:
        OpenBesideAgent("\\Readme.html", false);
        return true;
    case IDM_WEBSITE: {
        ByteString site;
        site.FormatResource(g_agent.instance, IDS_WEBSITE);
        OpenDocument(site.CStr() ? site.CStr() : "", window, SW_SHOWNORMAL);
        return true;
    }
    case IDM_TOOLTIP:
    case IDM_STARTUP:
        ToggleMenuCheck(id);
        return true;
    }
    return false;
}

// Whether the rates file this agent wrote is still there, however it is held: its name stands.
// One being deleted counts as gone.
bool RatesFileStands() {
    if (!g_agent.ratesFolder) return false;
    ByteString path;
    path.Format("%s\\%s", RatesFolder(), kRatesFileName);
    const DWORD attributes = PathAttributes(path.CStr() ? path.CStr() : "");
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

void OnSyncResult(WPARAM result) {
    if (result != kSyncUpdated && result != kSyncNotUpdated) return;
    // Any program on the user's desktop may send this message. A HotSync that updated the
    // handheld has taken the rates file; while it still waits, "updated" is not so. A failure
    // is told as it comes: it only points the user at the HotSync log.
    if (result == kSyncUpdated && RatesFileStands()) return;
    if (!ReadSettingFlag("tooltip")) return;
    // A success is news, not an error: it gets the information icon.
    if (result == kSyncUpdated)
        ShowTrayNotice(kSyncSucceeded, kNoticeInformation);
    else
        ShowTrayNotice(kSyncFailed, kNoticeError);
}

// Back from sleep, or the clock changed: the date is looked at now. An attempt begun before a
// sleep, whose connection the sleep has cut, is replaced rather than waited out; Windows may
// announce one wake twice, and the second finds this second's attempt and leaves it.
void OnClockJump(bool woken) {
    time_t now = AgentNow();
    if (g_agent.updatedToday) {
        g_agent.nextDateCheck = 0;
    } else if (woken && g_agent.downloader && !HasCompletedDownload() &&
               g_agent.attemptStartTime != now) {
        RetireDownloader();
        g_agent.lastRecycleTime = now;
    }
    UpdateCycleTick();
}

void OnDestroy(HWND window) {
    if (g_agent.aboutWindow) DestroyWindow(g_agent.aboutWindow);
    KillTimer(window, kTimerId);
    if (g_agent.downloader) g_agent.downloader->Stop();
    DeleteTrayIcon();
}

bool OnTrayCallback(LPARAM notification) {
    switch (static_cast<UINT>(notification)) {
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
        if (!g_agent.popupMenu) return false;
        ShowPopupMenu();
        return true;
    case NIN_BALLOONTIMEOUT:
    case NIN_BALLOONUSERCLICK:
        ShowTrayNotice(nullptr, kNoticeInformation);
        return true;
    }
    return false;
}

} // namespace

bool StartTicking(HWND window, UINT periodMs) {
    SetTimerFn setTimer = g_agent.setTimer ? g_agent.setTimer : SetTimer;
    if (!window || !setTimer(window, kTimerId, periodMs, nullptr)) return false;
    g_agent.tickPeriodMs = periodMs;
    return true;
}

void UpdateCycleTick() {
    time_t now = AgentNow();
    CollectRetiredDownloader();
    if (g_agent.updatedToday && DateCheckDue(now) && IsDownloadDue(now, g_agent.lastUpdateTime))
        BeginNewDay(now);
    if (g_agent.updatedToday)
        TickReminding(now);
    else
        TickDownloading(now);
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != 0 && message == g_agent.syncResultMessage) {
        OnSyncResult(wParam);
        return 0;
    }
    if (message != 0 && message == g_agent.taskbarCreatedMessage) {
        RestoreTrayIcon();
        return 0;
    }
    switch (message) {
    case WM_CLOSE: // "End task" or taskkill: leave as Exit does, not windowless with the mutex
        OnCommand(window, IDM_EXIT);
        return 0;
    case WM_DESTROY:
        OnDestroy(window);
        break;
    case WM_COMMAND:
        if (HIWORD(wParam) == 0 && OnCommand(window, LOWORD(wParam))) return 0;
        break;
    case WM_TIMER:
        if (wParam == kTimerId) {
            UpdateCycleTick();
            return 0;
        }
        break;
    case WM_USER:
        if (OnTrayCallback(lParam)) return 0;
        break;
    case WM_POWERBROADCAST:
        if (wParam == PBT_APMRESUMEAUTOMATIC || wParam == PBT_APMRESUMESUSPEND ||
            wParam == PBT_APMRESUMECRITICAL) {
            OnClockJump(true);
            return TRUE;
        }
        break;
    case WM_TIMECHANGE:
        _tzset(); // the zone may be what changed
        OnClockJump(false);
        return 0;
    case kDownloadDoneMessage:
        // Only the attempt under way counts; a stopped one's end waits for its tick. A connection
        // that took longer than the first tick's wait (a TLS handshake, a proxy) is asked at once.
        if (!g_agent.updatedToday && g_agent.downloader) {
            if (g_agent.downloader->IsFinished())
                UpdateCycleTick();
            else if (!g_agent.requestSent && !g_agent.connectAbandoned)
                SendRequest(g_agent.downloader);
        }
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}
