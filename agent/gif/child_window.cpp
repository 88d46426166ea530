#include "agent/gif/child_window.h"

namespace {

// The static style (8, a frame) never shows: the control paints the canvas itself.
const DWORD kChildStyle = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | SS_GRAYFRAME;
static_assert(kChildStyle == 0x54000008, "the control's window style");

} // namespace

ChildWindow::~ChildWindow() {
    if (window && IsWindow(window)) DestroyWindow(window);
}

LRESULT ChildWindow::HandlePaint(HWND, WPARAM) {
    return TRUE;
}

LRESULT ChildWindow::HandleDestroy() {
    if (prevWindowProc) SetWindowLongA(window, GWL_WNDPROC, prevWindowProc);
    if (prevUserData) SetWindowLongA(window, GWL_USERDATA, prevUserData);
    // The handle dies with this message and may later name another window.
    window = nullptr;
    return TRUE;
}

BOOL ChildWindow::CreateChild(HWND parent, const char* text, int x, int y, int cx, int cy,
                              HINSTANCE instance) {
    window = CreateWindowExA(WS_EX_NOPARENTNOTIFY, "STATIC", text, kChildStyle, x, y, cx, cy,
                             parent, nullptr, instance, nullptr);
    if (!window) return FALSE;
    prevWindowProc = SetWindowLongA(
        window, GWL_WNDPROC, static_cast<LONG>(reinterpret_cast<LONG_PTR>(&ControlWindowProc)));
    prevUserData =
        SetWindowLongA(window, GWL_USERDATA, static_cast<LONG>(reinterpret_cast<LONG_PTR>(this)));
    return TRUE;
}

LRESULT CALLBACK ChildWindow::ControlWindowProc(HWND window, UINT message, WPARAM wParam,
                                                LPARAM lParam) {
    ChildWindow* object =
        reinterpret_cast<ChildWindow*>(static_cast<LONG_PTR>(GetWindowLongA(window, GWL_USERDATA)));
    if (object && message == WM_DESTROY) return object->HandleDestroy();
    if (object && message == WM_PAINT) return object->HandlePaint(window, wParam);
    return DefWindowProcA(window, message, wParam, lParam);
}
