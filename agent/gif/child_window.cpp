#include "agent/gif/child_window.h"

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
    window = CreateWindowExA(WS_EX_NOPARENTNOTIFY, "STATIC", text, 0x54000008, x, y, cx, cy, parent,
                             nullptr, instance, nullptr);
    if (!window) return FALSE;
    prevWindowProc = SetWindowLongA(window, GWL_WNDPROC, (LONG)(LONG_PTR)ControlWindowProc);
    prevUserData = SetWindowLongA(window, GWL_USERDATA, (LONG)(LONG_PTR)this);
    return TRUE;
}

LRESULT CALLBACK ChildWindow::ControlWindowProc(HWND window, UINT message, WPARAM wParam,
                                                LPARAM lParam) {
    ChildWindow* object = (ChildWindow*)(LONG_PTR)GetWindowLongA(window, GWL_USERDATA);
    if (object && message == WM_DESTROY) return object->HandleDestroy();
    if (object && message == WM_PAINT) return object->HandlePaint(window, wParam);
    return DefWindowProcA(window, message, wParam, lParam);
}
