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
    if (prevWindowProc) SetWindowLongPtrA(window, GWLP_WNDPROC, prevWindowProc);
    if (prevUserData) SetWindowLongPtrA(window, GWLP_USERDATA, prevUserData);
    // The handle dies with this message and may later name another window.
    window = nullptr;
    return TRUE;
}

BOOL ChildWindow::CreateChild(HWND parent, const char* text, int x, int y, int cx, int cy,
                              HINSTANCE instance) {
    window = CreateWindowExA(WS_EX_NOPARENTNOTIFY, "STATIC", text, kChildStyle, x, y, cx, cy,
                             parent, nullptr, instance, nullptr);
    if (!window) return FALSE;
    prevWindowProc =
        SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&ControlWindowProc));
    prevUserData = SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    return TRUE;
}

LRESULT CALLBACK ChildWindow::ControlWindowProc(HWND window, UINT message, WPARAM wParam,
                                                LPARAM lParam) {
    ChildWindow* object = reinterpret_cast<ChildWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (object && message == WM_DESTROY) return object->HandleDestroy();
    if (object && message == WM_PAINT) return object->HandlePaint(window, wParam);
    return DefWindowProcA(window, message, wParam, lParam);
}
