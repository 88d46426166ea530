#include "tests/win/balloon/balloon_test_support.h"

#include <stdio.h>
#include <stdlib.h>
#include <string>

#include "agent/balloon/balloon_window.h"

std::vector<HWND> OpenBalloons() {
    HWND handles[64];
    int n = CopyOpenBalloons(handles, 64);
    return std::vector<HWND>(handles, handles + (n < 64 ? n : 64));
}

namespace {

const int kSideMargin = 8, kTopMargin = 4, kBottomMargin = 8, kTail = 20;

RECT CloseBoxIn(int width, int height, bool tailOnTop) {
    RECT content = {kSideMargin, kTopMargin + (tailOnTop ? kTail : 0), width - kSideMargin,
                    height - kBottomMargin};
    RECT box = {content.right - GetSystemMetrics(SM_CXSIZE) + 4, content.top, content.right,
                content.top + GetSystemMetrics(SM_CYSIZE) - 4};
    return box;
}

SIZE Measure(const char* text, int weight, UINT flags, RECT r) {
    HDC dc = GetDC(nullptr);
    HFONT font = BalloonFont(weight);
    HGDIOBJ old = SelectObject(dc, font);
    DrawTextA(dc, text, -1, &r, flags | DT_CALCRECT | DT_NOPREFIX | DT_EXPANDTABS);
    SelectObject(dc, old);
    DeleteObject(font);
    ReleaseDC(nullptr, dc);
    SIZE s = {r.right - r.left, r.bottom - r.top};
    return s;
}

} // namespace

HFONT BalloonFont(int weight) {
    return CreateFontA(-10, 0, 0, 0, weight, FALSE, FALSE, FALSE, 0, OUT_DEFAULT_PRECIS,
                       CLIP_DEFAULT_PRECIS, PROOF_QUALITY, FF_ROMAN, "ms sans serif");
}

std::string TextOfWidth(int pixels) {
    // Letters of a few widths, so that every width is within reach; checked whole at the end.
    const char letters[] = "mit";
    int w[3];
    for (int i = 0; i < 3; ++i)
        w[i] = Measure(std::string(1, letters[i]).c_str(), 400, DT_SINGLELINE, RECT{0, 0, 0, 0}).cx;
    int space = Measure("m m", 400, DT_SINGLELINE, RECT{0, 0, 0, 0}).cx - 2 * w[0];
    for (int e = 0; e < 12; ++e)
        for (int i = 0; i < 12; ++i) {
            int rest = pixels - space - e * w[2] - i * w[1];
            if (rest <= 0 || rest % w[0]) continue;
            std::string text =
                std::string(rest / w[0], 'm') + " " + std::string(i, 'i') + std::string(e, 't');
            if (Measure(text.c_str(), 400, DT_SINGLELINE, RECT{0, 0, 0, 0}).cx == pixels)
                return text;
        }
    return "";
}

bool TailOnTopFor(int anchorY) {
    return anchorY < GetSystemMetrics(SM_CYFULLSCREEN) / 2;
}

RECT CloseBoxOf(HWND balloon, bool tailOnTop) {
    RECT client;
    GetClientRect(balloon, &client);
    return CloseBoxIn(client.right, client.bottom, tailOnTop);
}

ExpectedBalloon Expect(const char* title, const char* text, int anchorX, int anchorY) {
    ExpectedBalloon e;
    const int screenW = GetSystemMetrics(SM_CXFULLSCREEN),
              screenH = GetSystemMetrics(SM_CYFULLSCREEN);
    const int cx = GetSystemMetrics(SM_CXSIZE), cy = GetSystemMetrics(SM_CYSIZE);
    bool left = anchorX < screenW / 2;
    bool top = e.tailOnTop = anchorY < screenH / 2;

    // Title row: 6, the close box and 8, the title and 8; as high as the tallest of its parts.
    std::string shown = title ? std::string(title).substr(0, 125) : "";
    SIZE t = {0, 0};
    if (!shown.empty()) t = Measure(shown.c_str(), 700, DT_SINGLELINE, RECT{0, 0, 0, 0});
    int rowWidth = 6 + 8 + cx + (shown.empty() ? 0 : 8 + t.cx);
    int rowHeight = top ? 24 : 4;
    if (cy > rowHeight) rowHeight = cy;
    if (t.cy > rowHeight) rowHeight = t.cy;
    rowHeight += top ? 20 : 4;

    // The message wraps from x = 8 to a little past half the screen.
    int wrapRight = screenW - (screenW - 8) / 2;
    SIZE m = {0, 0};
    if (text && *text) m = Measure(text, 400, DT_WORDBREAK, RECT{8, 0, wrapRight, 0});
    int messageHeight = top ? m.cy - 20 : m.cy;

    int width = (rowWidth > m.cx ? rowWidth : m.cx) + 16;
    int height = rowHeight + messageHeight + 8 + 36;
    int q = (width - 20) / 4;
    int tipX = left ? q : 3 * q + 20, baseX = left ? q + 20 : 3 * q;
    int tipY = top ? 1 : height - 2, baseY = top ? 21 : height - 22;
    POINT tail[3] = {{baseX, baseY}, {tipX, tipY}, {tipX, baseY}};
    for (POINT& p : tail)
        p.x = p.x < 8 ? 8 : p.x > width - 8 ? width - 8 : p.x;

    int x = anchorX - tail[1].x, y = anchorY - tail[1].y, dx = 0, dy = 0;
    if (x < 0)
        dx = -x;
    else if (x + width >= screenW)
        dx = screenW - x - width;
    if (y + 20 < 0)
        dy = -y - 20;
    else if (y + height - 20 >= screenH)
        dy = screenH - y - height + 20;
    tail[1].x -= dx;
    SetRect(&e.window, x + dx, y + dy, x + dx + width, y + dy + height);
    for (int i = 0; i < 3; ++i)
        e.tail[i] = tail[i];
    SetRect(&e.body, 0, top ? 20 : 0, width, top ? height : height - 20);
    SetRect(&e.content, 8, top ? 24 : 4, width - 8, height - 8);
    e.closeBox = CloseBoxIn(width, height, top);
    SetRect(&e.title, e.content.left, e.content.top, e.content.right - cx, e.content.bottom);
    SetRect(&e.message, 8, rowHeight + 8, wrapRight, height);
    return e;
}

bool Screenshot::Take() {
    return Take(0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
}

bool Screenshot::Take(int left, int top, int w, int h) {
    width = w;
    height = h;
    pixels.clear();
    if (width <= 0 || height <= 0) return false;
    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = width;
    bi.bmiHeader.biHeight = -height;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP dib = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool ok = dib && bits;
    if (ok) {
        HGDIOBJ old = SelectObject(mem, dib);
        ok = BitBlt(mem, 0, 0, width, height, screen, left, top, SRCCOPY) != FALSE;
        GdiFlush();
        pixels.resize(static_cast<size_t>(width) * height);
        const unsigned char* p = static_cast<const unsigned char*>(bits);
        for (size_t i = 0; i < pixels.size(); ++i)
            pixels[i] = RGB(p[4 * i + 2], p[4 * i + 1], p[4 * i]);
        SelectObject(mem, old);
    }
    if (dib) DeleteObject(dib);
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
    return ok;
}

std::string ColourText(COLORREF c) {
    char text[32];
    snprintf(text, sizeof text, "RGB(%d, %d, %d)", GetRValue(c), GetGValue(c), GetBValue(c));
    return text;
}

void BalloonTest::HideAllBalloons_() {
    HideAllBalloons();
}
long BalloonTest::LiveObjects_() {
    return LiveBalloonObjects();
}

void ShowTestBalloon(const char* title, const char* text, int x, int y, UINT timeoutMs,
                     HBITMAP normal, HBITMAP hot, HBITMAP pressed) {
    ShowBalloon(title, text, x, y, kInformationIcon, BalloonCloseBox, nullptr, timeoutMs, normal,
                hot, pressed);
}

HWND NewestBalloon() {
    std::vector<HWND> open = OpenBalloons();
    return open.empty() ? nullptr : open.back();
}

LRESULT Mouse(HWND w, UINT message, int x, int y) {
    WPARAM keys = message == WM_LBUTTONDOWN || message == WM_MOUSEMOVE ? MK_LBUTTON : 0;
    return SendMessageA(w, message, keys, MAKELPARAM(x, y));
}
