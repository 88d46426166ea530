#include "agent/shell/about.h"

#include <new>

#include "agent/gif/gif32.h"
#include "agent/resources/resource.h"
#include "agent/shell/agent_state.h"

namespace {

const int kLogoX = 10;
const int kLogoY = 15;

void CentreOnDesktop(HWND window) {
    RECT r, desktop;
    GetWindowRect(window, &r);
    GetWindowRect(GetDesktopWindow(), &desktop);
    int w = r.right - r.left;
    int h = r.bottom - r.top;
    MoveWindow(window, (desktop.right - w) / 2, (desktop.bottom - h) / 2, w, h, TRUE);
}

} // namespace

void ShowAbout() {
    if (!g_agent.aboutWindow) {
        g_agent.aboutWindow = CreateDialogParamA(g_agent.instance, MAKEINTRESOURCEA(IDD_ABOUT),
                                                 g_agent.mainWindow, AboutDialogProc, 0);
        if (!g_agent.aboutWindow) return;
    }
    HWND about = g_agent.aboutWindow;
    CentreOnDesktop(about);
    // Chosen again while open: the logo that already plays stays, so there is only ever one.
    if (!g_agent.aboutPicture) {
        Gif32* logo = new (std::nothrow) Gif32;
        if (logo) {
            g_agent.aboutPicture = logo;
            logo->CreateChild(about, nullptr, kLogoX, kLogoY, CW_USEDEFAULT, CW_USEDEFAULT,
                              nullptr);
            logo->Load(MAKEINTRESOURCEA(IDR_LOGO_GIF), "GIF", g_agent.instance);
            logo->SetBackground(GetSysColor(COLOR_BTNFACE));
            logo->Draw();
        }
    }
    ShowWindow(about, SW_SHOW);
    SetForegroundWindow(about);
}

INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        SetWindowTextA(dialog, "Zelvantic");
        break;
    case WM_COMMAND:
        if (HIWORD(wParam) == 0 && LOWORD(wParam) == IDCANCEL) DestroyWindow(dialog);
        break;
    case WM_DESTROY:
        if (g_agent.aboutPicture) g_agent.aboutPicture->StopAnimation();
        break;
    case WM_NCDESTROY:
        delete g_agent.aboutPicture;
        g_agent.aboutPicture = nullptr;
        g_agent.aboutWindow = nullptr;
        break;
    }
    return FALSE;
}
