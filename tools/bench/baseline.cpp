// The least a tray program can be: a hidden window, a 100 ms timer and a notification-area icon.
// The bench measures the agent beside it under the same Wine. It records its window handle in
// HKCU\Software\ZelvanticBench "hwnd" right after the icon is added, as the agent records its own,
// and ends on the same command as the agent's Exit (WM_COMMAND 40002).
// With "-thread" it first runs one thread that does nothing, as a download runs one, and records
// its window under HKCU\Software\ZelvanticBench\Thread instead. With "-wait" it sets no timer
// at all, the floor of a program that only waits in its message loop, and records its window
// under HKCU\Software\ZelvanticBench\Wait.
#include <windows.h>
#include <shellapi.h>
#include <string.h>

namespace {

const char kClassName[] = "ZelvanticBenchBaseline";
const char kKey[] = "Software\\ZelvanticBench";
const char kThreadKey[] = "Software\\ZelvanticBench\\Thread";
const char kWaitKey[] = "Software\\ZelvanticBench\\Wait";
const UINT kExitCommand = 40002;
const UINT kTimerId = 100;
const UINT kTrayCallback = WM_USER;

NOTIFYICONDATAA g_icon;
DWORD g_ticks;

DWORD WINAPI NoWork(void*) {
    return 0;
}

void RecordWindow(HWND window, const char* path) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, path, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return;
    DWORD value = static_cast<DWORD>(reinterpret_cast<UINT_PTR>(window));
    RegSetValueExA(key, "hwnd", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
    RegCloseKey(key);
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_TIMER:
        // As little as a timer handler can do while still being one.
        if (wParam == kTimerId) ++g_ticks;
        return 0;
    case WM_COMMAND:
        if (LOWORD(wParam) == kExitCommand) {
            DestroyWindow(window);
            return 0;
        }
        break;
    case WM_DESTROY:
        KillTimer(window, kTimerId);
        Shell_NotifyIconA(NIM_DELETE, &g_icon);
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
    bool thread = commandLine && strstr(commandLine, "-thread");
    bool onlyWait = commandLine && strstr(commandLine, "-wait");
    if (thread) {
        HANDLE worker = CreateThread(nullptr, 0, NoWork, nullptr, 0, nullptr);
        if (!worker) return 1;
        WaitForSingleObject(worker, INFINITE);
        CloseHandle(worker);
    }
    WNDCLASSEXA wc;
    ZeroMemory(&wc, sizeof wc);
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = instance;
    wc.lpszClassName = kClassName;
    if (!RegisterClassExA(&wc)) return 1;
    HWND window = CreateWindowExA(0, kClassName, "baseline", WS_POPUP | WS_CAPTION | WS_SYSMENU, 0,
                                  0, 10, 10, nullptr, nullptr, instance, nullptr);
    if (!window) return 1;

    ZeroMemory(&g_icon, sizeof g_icon);
    g_icon.cbSize = sizeof g_icon;
    g_icon.hWnd = window;
    g_icon.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    g_icon.uCallbackMessage = kTrayCallback;
    g_icon.hIcon = LoadIconA(nullptr, MAKEINTRESOURCEA(32512)); // IDI_APPLICATION
    lstrcpynA(g_icon.szTip, "baseline", sizeof g_icon.szTip);
    Shell_NotifyIconA(NIM_ADD, &g_icon);
    RecordWindow(window, onlyWait ? kWaitKey : thread ? kThreadKey : kKey);
    if (!onlyWait) SetTimer(window, kTimerId, 100, nullptr);

    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return 0;
}
