// A child window tied to an object: the object is kept in the window's user data and a subclass
// procedure forwards painting and destruction to it.
#pragma once
#include <windows.h>

class ChildWindow {
  public:
    ChildWindow() {}
    virtual ~ChildWindow();
    virtual LRESULT HandlePaint(HWND window, WPARAM wParam);
    virtual LRESULT HandleDestroy();

    BOOL CreateChild(HWND parent, const char* text, int x, int y, int cx, int cy,
                     HINSTANCE instance);
    HWND Window() const { return window; }

    static LRESULT CALLBACK ControlWindowProc(HWND window, UINT message, WPARAM wParam,
                                              LPARAM lParam);

  protected:
    HWND window = nullptr;
    LONG_PTR prevUserData = 0;
    LONG_PTR prevWindowProc = 0;

  private:
    ChildWindow(const ChildWindow&) = delete;
    ChildWindow& operator=(const ChildWindow&) = delete;
};
