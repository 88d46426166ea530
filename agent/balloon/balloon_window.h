// The agent's own speech-bubble notice, for shells whose notification area has no balloon tips.
#pragma once
#include <windows.h>

#include "agent/balloon/balloon_geometry.h"

enum {
    BalloonDestroyOnHide = 0x200, // hiding destroys the window, destroying it deletes the object
    BalloonCloseBox = 0x400,
    BalloonShadow = 0x800,
    BalloonTopmost = 0x1000,
};

#define ZLV_BALLOON_CLASS "KelpoBalloonClass_Ovin_Ka_Spy"

class BalloonWindow {
  public:
    BalloonWindow();
    virtual ~BalloonWindow();

    bool Create(const char* title, const char* text, int x, int y, UINT iconId, DWORD options,
                HWND anchorWindow, UINT timeoutMs);
    void SetCloseBitmaps(HBITMAP normal, HBITMAP hot, HBITMAP pressed);
    void SetAnchor(int x, int y, HWND window);
    void SetIcon(UINT id);
    void Show();
    void Hide();
    void SetAutoHide(UINT ms);

    HWND Window() const { return window; }
    int Side() const { return tailSide; }

  private:
    BalloonWindow(const BalloonWindow&) = delete;
    BalloonWindow& operator=(const BalloonWindow&) = delete;

    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT OnMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    void OnCreate(HWND hwnd);
    void OnDestroy();
    void OnTimer();
    void OnEraseBackground(HDC dc);
    void OnPaint();
    void OnMouseMove(int x, int y, unsigned state);
    void OnLeftButtonDown(int x, int y);
    bool OnLeftButtonUp(int x, int y); // true when the window went away

    void Layout();
    BalloonRect Bounds();
    BalloonRect ClientArea() const;
    void ScreenAnchor(int* x, int* y) const;
    int MeasureTitleRow(HDC dc, bool draw, int* height);
    void MeasureBody(HDC dc, bool draw, int top, int* width, int* height);
    void DrawCloseBox(HDC dc, unsigned look);
    void SetCloseState(unsigned state);
    bool InCloseBox(int x, int y) const;
    bool HideAndMaybeDestroy(); // true when the window went away
    void ReleaseIcon();
    void ReleaseTexts();

    char* title;
    char* text;
    HWND anchorWindow;
    DWORD options;
    HRGN region;
    RECT bounds;
    int anchorX, anchorY;
    COLORREF backColour;
    COLORREF textColour;
    unsigned closeState;
    UINT timeoutMs;
    UINT_PTR timerId;
    HFONT titleFont, textFont;
    HBITMAP iconBitmap;
    HDC iconDC;
    HGDIOBJ iconDCPrevious;
    HBITMAP closeBitmapNormal, closeBitmapHot, closeBitmapPressed;
    HWND window;
    int tailSide;
    bool trackingLeave;
    bool creating; // inside CreateWindowEx: a failed creation must not delete the object
};

// Shows a self-owning balloon; ShowBalloon always adds BalloonDestroyOnHide, BalloonShadow and
// BalloonTopmost. The close-box bitmaps stay the caller's and are used only when all three are set.
void ShowBalloon(const char* title, const char* text, int x, int y, UINT iconId, DWORD options,
                 HWND anchorWindow, UINT timeoutMs, HBITMAP closeNormal, HBITMAP closeHot,
                 HBITMAP closePressed);
// Destroys every open balloon window.
void HideAllBalloons();

// For tests and diagnostics: the open balloon windows (up to max copied, total returned) and the
// number of BalloonWindow objects alive.
int CopyOpenBalloons(HWND* out, int max);
LONG LiveBalloonObjects();
