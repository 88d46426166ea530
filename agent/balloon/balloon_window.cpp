// The balloon window's life: creation, showing and hiding, the auto-hide timer, the close box's
// input and the message routing. How it looks is drawn in balloon_paint.cpp.
#include "agent/balloon/balloon_window.h"

#include <new>
#include <stdlib.h>
#include <string.h>

#include "agent/balloon/balloon_list.h"
#include "agent/owners.h"

namespace {

enum { kTimerId = 1 };

ATOM classAtom = 0;
volatile LONG liveObjects = 0;

// Heap copy with two spare zero bytes; an empty text stays absent.
char* CopyText(const char* text) {
    if (!text || !*text) return nullptr;
    size_t n = strlen(text);
    char* copy = static_cast<char*>(malloc(n + 3));
    if (!copy) return nullptr;
    memcpy(copy, text, n);
    memset(copy + n, 0, 3);
    return copy;
}

HFONT MakeFont(int weight) {
    return CreateFontA(-10, 0, 0, 0, weight, FALSE, FALSE, FALSE, 0, OUT_DEFAULT_PRECIS,
                       CLIP_DEFAULT_PRECIS, PROOF_QUALITY, FF_ROMAN | DEFAULT_PITCH,
                       "ms sans serif");
}

} // namespace

LONG LiveBalloonObjects() {
    return InterlockedCompareExchange(&liveObjects, 0, 0);
}

BalloonWindow::BalloonWindow()
    : title(nullptr), text(nullptr), anchorWindow(nullptr), options(0), region(nullptr), anchorX(0),
      anchorY(0), backColour(GetSysColor(COLOR_INFOBK)), textColour(GetSysColor(COLOR_INFOTEXT)),
      closeState(CloseAway), timeoutMs(0), timerId(0), titleFont(nullptr), textFont(nullptr),
      iconBitmap(nullptr), iconDC(nullptr), iconDCPrevious(nullptr), closeBitmapNormal(nullptr),
      closeBitmapHot(nullptr), closeBitmapPressed(nullptr), window(nullptr),
      tailSide(TailBottomRight), trackingLeave(false), creating(false) {
    SetRectEmpty(&bounds);
    InterlockedIncrement(&liveObjects);
}

BalloonWindow::~BalloonWindow() {
    // Already being deleted: the window's end must not delete the object a second time.
    options &= ~BalloonDestroyOnHide;
    if (window && IsWindow(window)) DestroyWindow(window);
    ReleaseTexts();
    FreeGdiObject(titleFont);
    FreeGdiObject(textFont);
    FreeGdiObject(region);
    ReleaseIcon();
    InterlockedDecrement(&liveObjects);
}

bool BalloonWindow::Create(const char* titleText, const char* messageText, int x, int y,
                           UINT iconId, DWORD flags, HWND anchor, UINT timeout) {
    if (window) return false;
    ReleaseTexts();
    title = CopyText(titleText);
    text = CopyText(messageText);
    options = flags;
    timeoutMs = timeout;
    SetAnchor(x, y, anchor);

    HINSTANCE instance = GetModuleHandleA(nullptr);
    if (!classAtom) {
        WNDCLASSA wc = {};
        wc.style = CS_SAVEBITS | CS_DBLCLKS;
        wc.lpfnWndProc = WindowProc;
        wc.hInstance = instance;
        wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
        wc.lpszClassName = ZLV_BALLOON_CLASS;
        classAtom = RegisterClassA(&wc);
        if (!classAtom) return false;
    }
    if (iconId) SetIcon(iconId);

    DWORD exStyle = WS_EX_TOOLWINDOW | ((options & BalloonTopmost) ? WS_EX_TOPMOST : 0);
    creating = true;
    HWND created = CreateWindowExA(exStyle, MAKEINTATOM(classAtom), title, WS_POPUP, 0, 0, 10, 10,
                                   anchorWindow, nullptr, instance, this);
    creating = false;
    if (!created) {
        window = nullptr;
        return false;
    }
    Layout();
    return true;
}

void BalloonWindow::SetCloseBitmaps(HBITMAP normal, HBITMAP hot, HBITMAP pressed) {
    closeBitmapNormal = normal;
    closeBitmapHot = hot;
    closeBitmapPressed = pressed;
}

void BalloonWindow::SetAnchor(int x, int y, HWND anchor) {
    anchorX = x;
    anchorY = y;
    anchorWindow = anchor;
}

void BalloonWindow::ReleaseTexts() {
    free(title);
    free(text);
    title = text = nullptr;
}

void BalloonWindow::ReleaseIcon() {
    FreeBitmapDC(iconDC, iconBitmap, iconDCPrevious);
}

void BalloonWindow::Show() {
    if (!window) return;
    ShowWindow(window, SW_SHOWNOACTIVATE);
    SetAutoHide(timeoutMs);
}

void BalloonWindow::Hide() {
    if (window) ShowWindow(window, SW_HIDE);
}

void BalloonWindow::SetAutoHide(UINT ms) {
    timeoutMs = ms;
    if (!window) return;
    if (ms > 0) {
        timerId = SetTimer(window, kTimerId, ms, nullptr);
    } else {
        KillTimer(window, kTimerId);
        timerId = 0;
    }
}

BalloonRect BalloonWindow::Bounds() {
    if (IsRectEmpty(&bounds))
        SetRect(&bounds, 0, 0, GetSystemMetrics(SM_CXFULLSCREEN),
                GetSystemMetrics(SM_CYFULLSCREEN));
    BalloonRect r = {bounds.left, bounds.top, bounds.right, bounds.bottom};
    return r;
}

BalloonRect BalloonWindow::ClientArea() const {
    RECT rc = {0, 0, 0, 0};
    if (window) GetClientRect(window, &rc);
    BalloonRect r = {rc.left, rc.top, rc.right, rc.bottom};
    return r;
}

void BalloonWindow::ScreenAnchor(int* x, int* y) const {
    POINT p = {anchorX, anchorY};
    if (anchorWindow && IsWindow(anchorWindow)) ClientToScreen(anchorWindow, &p);
    *x = p.x;
    *y = p.y;
}

bool BalloonWindow::InCloseBox(int x, int y) const {
    if (!(options & BalloonCloseBox)) return false;
    BalloonRect box = CloseBoxRect(ContentRect(ClientArea(), tailSide), GetSystemMetrics(SM_CXSIZE),
                                   GetSystemMetrics(SM_CYSIZE));
    return x >= box.left && x < box.right && y >= box.top && y < box.bottom;
}

void BalloonWindow::SetCloseState(unsigned state) {
    if (state == closeState) return;
    closeState = state;
    ScopedGetDC dc(window);
    if (!dc.Held()) return;
    BalloonRect box = CloseBoxRect(ContentRect(ClientArea(), tailSide), GetSystemMetrics(SM_CXSIZE),
                                   GetSystemMetrics(SM_CYSIZE));
    // Bitmaps are drawn with a transparent colour: lay the background under them afresh.
    int saved = SaveDC(dc.Get());
    IntersectClipRect(dc.Get(), box.left, box.top, box.right, box.bottom);
    OnEraseBackground(dc.Get());
    RestoreDC(dc.Get(), saved);
    DrawCloseBox(dc.Get(), CloseLook(state));
}

void BalloonWindow::OnMouseMove(int x, int y, unsigned state) {
    if (!(options & BalloonCloseBox)) return;
    if (!trackingLeave) {
        TRACKMOUSEEVENT track = {sizeof track, TME_LEAVE, window, 0};
        trackingLeave = TrackMouseEvent(&track) != FALSE;
    }
    SetCloseState(CloseStateAfterMove(state, InCloseBox(x, y)));
}

void BalloonWindow::OnLeftButtonDown(int x, int y) {
    if (!InCloseBox(x, y)) return;
    SetCapture(window);
    // The pressed bit goes into the move, not ahead of it: "over" and "pressed over" would
    // otherwise compare equal and the pressed look would never be drawn.
    OnMouseMove(x, y, closeState | ClosePressed);
}

bool BalloonWindow::OnLeftButtonUp(int x, int y) {
    if (!(closeState & ClosePressed)) return false;
    closeState &= ~ClosePressed;
    ReleaseCapture();
    if (!InCloseBox(x, y)) return false;
    return HideAndMaybeDestroy();
}

bool BalloonWindow::HideAndMaybeDestroy() {
    Hide();
    if (!(options & BalloonDestroyOnHide)) return false;
    DestroyWindow(window);
    return true;
}

void BalloonWindow::OnTimer() {
    KillTimer(window, kTimerId);
    timerId = 0;
    HideAndMaybeDestroy();
}

void BalloonWindow::OnCreate(HWND hwnd) {
    window = hwnd;
    AddOpenBalloon(hwnd);
    if (!titleFont) titleFont = MakeFont(FW_BOLD);
    if (!textFont) textFont = MakeFont(FW_NORMAL);
}

void BalloonWindow::OnDestroy() {
    RemoveOpenBalloon(window);
    window = nullptr;
    timerId = 0;
    trackingLeave = false;
    closeState = CloseAway;
}

LRESULT BalloonWindow::OnMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    int x = static_cast<short>(LOWORD(lParam)), y = static_cast<short>(HIWORD(lParam));
    switch (message) {
    case WM_ERASEBKGND:
        OnEraseBackground(reinterpret_cast<HDC>(wParam));
        return 1;
    case WM_PAINT:
        OnPaint();
        return 0;
    case WM_TIMER:
        if (wParam != kTimerId) break;
        OnTimer(); // may delete this
        return 0;
    case WM_MOUSEACTIVATE:
        return MA_NOACTIVATE; // a notice never takes the focus from the user's work
    case WM_MOUSEMOVE:
        OnMouseMove(x, y, closeState);
        return 0;
    case WM_MOUSELEAVE:
        trackingLeave = false;
        if (!(closeState & ClosePressed) && (options & BalloonCloseBox))
            SetCloseState(CloseStateAfterMove(closeState, false));
        return 0;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
        OnLeftButtonDown(x, y);
        return 0;
    case WM_LBUTTONUP:
        OnLeftButtonUp(x, y); // may delete this
        return 0;
    case WM_CAPTURECHANGED:
        if ((closeState & ClosePressed) && reinterpret_cast<HWND>(lParam) != window)
            SetCloseState(CloseAway); // someone else took the mouse: the press is over
        return 0;
    case WM_CLOSE:
        Hide();
        return 0;
    case WM_DESTROY:
        OnDestroy();
        break;
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

LRESULT CALLBACK BalloonWindow::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CREATE) {
        CREATESTRUCTA* cs = reinterpret_cast<CREATESTRUCTA*>(lParam);
        BalloonWindow* self = static_cast<BalloonWindow*>(cs->lpCreateParams);
        if (!self) return -1;
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
        self->OnCreate(hwnd);
        return 0;
    }
    BalloonWindow* self = reinterpret_cast<BalloonWindow*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (!self) return DefWindowProcA(hwnd, message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
        // During Create the caller still holds the object and deletes it on failure.
        if ((self->options & BalloonDestroyOnHide) && !self->creating) delete self;
        return DefWindowProcA(hwnd, message, wParam, lParam);
    }
    return self->OnMessage(hwnd, message, wParam, lParam);
}

void ShowBalloon(const char* title, const char* text, int x, int y, UINT iconId, DWORD options,
                 HWND anchorWindow, UINT timeoutMs, HBITMAP closeNormal, HBITMAP closeHot,
                 HBITMAP closePressed) {
    BalloonWindow* balloon = new (std::nothrow) BalloonWindow;
    if (!balloon) return;
    if (closeNormal && closeHot && closePressed)
        balloon->SetCloseBitmaps(closeNormal, closeHot, closePressed);
    if (!balloon->Create(title, text, x, y, iconId,
                         options | BalloonDestroyOnHide | BalloonShadow | BalloonTopmost,
                         anchorWindow, timeoutMs)) {
        delete balloon; // no window was left to delete it later
        return;
    }
    balloon->Show();
}
