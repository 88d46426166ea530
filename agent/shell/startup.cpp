#include "agent/shell/startup.h"

#include <stdlib.h>
#include <string.h>

#include "agent/balloon/balloon_window.h"
#include "agent/owners.h"
#include "agent/path/path_calls.h"
#include "agent/resources/resource.h"
#include "agent/shell/agent_state.h"
#include "agent/shell/main_window.h"
#include "agent/shell/rates_folder.h"
#include "agent/shell/register_conduit.h"
#include "agent/shell/settings.h"
#include "agent/shell/startup_text.h"
#include "agent/shell/tray.h"
#include "agent/update/byte_string.h"
#include "agent/update/downloader.h"

namespace {

const char kMutexName[] = "(:::)Zelvantic Desktop Agent by kelpo";
const char kWindowTitle[] = "kelpo";
const char kMessageCaption[] = "Zelvantic";
const int kWindowSize = 10; // never shown, but created with a size

// The two start-up initialisers, in this order, before WinMain.
struct RegisterMessages {
    RegisterMessages() {
        g_agent.syncResultMessage = RegisterWindowMessageA("zlv_kelpo_palm_synch");
        g_agent.taskbarCreatedMessage = RegisterWindowMessageA("TaskbarCreated");
    }
} s_registerMessages;

struct NoteStartTime {
    NoteStartTime() { g_agent.lastRecycleTime = AgentNow(); }
} s_noteStartTime;

// The agent folder, and the user's rates folder stored as "target". False when start-up has to
// end with exit code 1.
bool RecordFolders(HINSTANCE instance) {
    char* path = ModulePath(instance);
    if (!path) return false;
    CutToFolder(path);
    // No folder of the user's own, and none made (a file in its place): nothing is stored.
    char* rates = MakeRatesFolder(path);
    if (!rates) {
        free(path);
        return false;
    }
    StoreFolderResult stored = StoreAgentFolder(rates);
    if (stored != kFolderStored) {
        if (stored == kFolderWriteFailed) {
            ByteString text;
            text.FormatResource(instance, IDS_REGISTRY_FAILED);
            MessageBoxA(nullptr, text.CStr() ? text.CStr() : "", kMessageCaption, MB_OK);
        }
        free(rates);
        free(path);
        return false;
    }
    g_agent.agentFolder = path;
    g_agent.ratesFolder = rates;
    return true;
}

void LoadShell() {
    g_agent.shellModule = LoadLibraryA("shell32.dll");
    if (!g_agent.shellModule) return;
    FARPROC proc = GetProcAddress(g_agent.shellModule, "Shell_NotifyIcon");
    g_agent.notify = reinterpret_cast<NotifyIconFn>(reinterpret_cast<void*>(proc));
}

void LoadResources(HINSTANCE instance) {
    if (!ShellHasBalloons()) {
        g_agent.notifyAreaWindow = FindNotifyAreaWindow();
        g_agent.balloonBitmaps[0] = LoadBitmapA(instance, MAKEINTRESOURCEA(IDB_CLOSE_NORMAL));
        g_agent.balloonBitmaps[1] = LoadBitmapA(instance, MAKEINTRESOURCEA(IDB_CLOSE_HOT));
        g_agent.balloonBitmaps[2] = LoadBitmapA(instance, MAKEINTRESOURCEA(IDB_CLOSE_PRESSED));
    }
    g_agent.updatedToday = IsUpdatedToday();
    for (int i = 0; i < kFrameCount; ++i)
        g_agent.frames[i] = LoadIconA(instance, MAKEINTRESOURCEA(IDI_FRAME_FIRST + i));
    g_agent.menu = LoadMenuA(instance, MAKEINTRESOURCEA(IDR_TRAY_MENU));
    g_agent.popupMenu = g_agent.menu ? GetSubMenu(g_agent.menu, 0) : nullptr;
    if (g_agent.popupMenu) InitMenuChecks();
}

bool CreateMainWindow(HINSTANCE instance) {
    WNDCLASSEXA wc;
    ZeroMemory(&wc, sizeof wc);
    wc.cbSize = sizeof wc;
    wc.style = CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS;
    wc.lpfnWndProc = MainWindowProc;
    wc.hInstance = instance;
    wc.hIcon = g_agent.classIcon;
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_MENU + 1);
    wc.lpszClassName = ZLV_MAIN_WINDOW_CLASS;
    if (!RegisterClassExA(&wc)) return false;
    g_agent.mainWindow =
        CreateWindowExA(0, ZLV_MAIN_WINDOW_CLASS, kWindowTitle, WS_POPUP | WS_CAPTION | WS_SYSMENU,
                        0, 0, kWindowSize, kWindowSize, nullptr, nullptr, instance, nullptr);
    // Without the window there is no tray icon and no Exit: do not run on invisibly.
    return g_agent.mainWindow != nullptr;
}

void RunMessageLoop() {
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        // The modeless About box gets its keys (Esc closes it) like any dialog.
        if (g_agent.aboutWindow && IsDialogMessageA(g_agent.aboutWindow, &msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

} // namespace

void CleanUpAgent() {
    if (g_agent.classIcon) DestroyIcon(g_agent.classIcon);
    g_agent.classIcon = nullptr;
    for (HICON& frame : g_agent.frames) {
        if (frame) DestroyIcon(frame);
        frame = nullptr;
    }
    delete g_agent.downloader;
    g_agent.downloader = nullptr;
    delete g_agent.retiredDownloader;
    g_agent.retiredDownloader = nullptr;
    free(g_agent.trayRecord);
    g_agent.trayRecord = nullptr;
    // The whole menu: destroying it takes the popup with it.
    if (g_agent.menu) DestroyMenu(g_agent.menu);
    g_agent.menu = g_agent.popupMenu = nullptr;
    free(g_agent.agentFolder);
    g_agent.agentFolder = nullptr;
    free(g_agent.ratesFolder);
    g_agent.ratesFolder = nullptr;
    for (HBITMAP& bitmap : g_agent.balloonBitmaps)
        FreeGdiObject(bitmap);
    if (g_agent.shellModule) FreeLibrary(g_agent.shellModule);
    g_agent.shellModule = nullptr;
    g_agent.notify = nullptr;
    if (g_agent.instanceMutex) {
        ReleaseMutex(g_agent.instanceMutex);
        CloseHandle(g_agent.instanceMutex);
        g_agent.instanceMutex = nullptr;
    }
}

int AgentMain(HINSTANCE instance, const char* commandLine) {
    if (commandLine && *commandLine && IsSilentCommandLine(commandLine) &&
        !ReadSettingFlag("startup"))
        return 0;
    g_agent.instance = instance;
    g_agent.instanceMutex = CreateMutexA(nullptr, TRUE, kMutexName);
    if (GetLastError() == ERROR_ALREADY_EXISTS) return 0;
    if (!RecordFolders(instance)) return 1;
    g_agent.classIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_AGENT));
    RegisterConduit(g_agent.agentFolder);
    LoadShell();
    LoadResources(instance);
    if (CreateMainWindow(instance)) {
        SetTrayFrame(0);
        StoreWindowHandle(g_agent.mainWindow);
        StartTicking(g_agent.mainWindow, kTimerPeriodMs);
        RunMessageLoop();
        HideAllBalloons();
    }
    CleanUpAgent();
    return 0;
}
