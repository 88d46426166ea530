// The balloon's gradient and bevel on the screen, on a few back colours.
#include <windows.h>

#include "agent/balloon/balloon_window.h"
#include "tests/win/balloon/balloon_test_support.h"

namespace {

const COLORREF kBackdrop = RGB(255, 0, 255);

// A plain magenta window under the balloons, so that anything they leave unpainted shows.
HWND Backdrop(int x, int y, int w, int h) {
    static ATOM atom;
    static HBRUSH brush = CreateSolidBrush(kBackdrop);
    if (!atom) {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = DefWindowProcA;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.hbrBackground = brush;
        wc.lpszClassName = "ZlvBalloonBackdrop";
        atom = RegisterClassA(&wc);
    }
    HWND window = CreateWindowExA(WS_EX_TOOLWINDOW, "ZlvBalloonBackdrop", "", WS_POPUP | WS_VISIBLE,
                                  x, y, w, h, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    UpdateWindow(window);
    return window;
}

// The info colours of the system for as long as it lives.
struct InfoColours {
    explicit InfoColours(COLORREF back) : saved(GetSysColor(COLOR_INFOBK)) { Set(back); }
    ~InfoColours() { Set(saved); }
    static void Set(COLORREF c) {
        INT element = COLOR_INFOBK;
        SetSysColors(1, &element, &c);
    }
    COLORREF saved;
};

// Band i of 200 spans rows i*H/200 to (i+1)*H/200 and blends towards RGB(255, 200, 100) by
// (100*i/200)/100, each channel truncated; worked here exactly, in whole hundredths.
COLORREF BandColourAt(int y, int height, COLORREF from) {
    int band = 0;
    while (band < 199 && (band + 1) * height / 200 <= y)
        ++band;
    int p = 100 * band / 200;
    auto mix = [p](int a, int b) { return ((100 - p) * a + p * b) / 100; };
    return RGB(mix(GetRValue(from), 255), mix(GetGValue(from), 200), mix(GetBValue(from), 100));
}

} // namespace

TEST_F(BalloonTest, GradientAndBevelOnTheScreenFollowTheBackColour) {
    HWND backdrop = Backdrop(60, 60, 900, 620);
    ASSERT_TRUE(backdrop);
    const COLORREF ink = GetSysColor(COLOR_INFOTEXT);
    for (COLORREF back : {RGB(255, 255, 225), RGB(0, 0, 0), RGB(30, 144, 250)}) {
        SCOPED_TRACE(ColourText(back));
        InfoColours colours(back);
        // One balloon with its tail down (lower right), one with its tail up (upper left).
        ShowTestBalloon("Zelvantic", "The currency update is ready.\nStart a HotSync.", 760, 560,
                        0);
        HWND down = NewestBalloon();
        ShowTestBalloon("Zelvantic", "Successfully updated the currency.", 200, 150, 0);
        HWND up = NewestBalloon();
        ASSERT_TRUE(down && up);
        Pump(300);
        Screenshot shot;
        ASSERT_TRUE(shot.Take());

        for (HWND w : {down, up}) {
            bool top = w == up;
            RECT r;
            GetWindowRect(w, &r);
            int width = r.right - r.left, height = r.bottom - r.top;
            int bodyTop = top ? 20 : 0, bodyBottom = top ? height : height - 20;
            int midY = r.top + (bodyTop + bodyBottom) / 2;

            // Outside the shape the backdrop shows through.
            EXPECT_EQ(kBackdrop, shot.At(r.left, r.top + bodyTop)) << "body corner";
            EXPECT_EQ(kBackdrop, shot.At(r.right - 1, r.top + bodyBottom - 1)) << "body corner";
            EXPECT_EQ(kBackdrop, shot.At(r.left + 3, top ? r.top + 5 : r.bottom - 5));

            // Across the middle: ink on the shape's edge, the light ring (shape moved by +1, two
            // wide) inside the left edge, the dark one (moved by -1) inside the right.
            COLORREF light = RGB(GetRValue(back) / 3 + 170, GetGValue(back) / 3 + 170,
                                 GetBValue(back) / 3 + 170);
            COLORREF dark = RGB(2 * (GetRValue(back) / 3) + GetRValue(ink) / 3,
                                2 * (GetGValue(back) / 3) + GetGValue(ink) / 3,
                                2 * (GetBValue(back) / 3) + GetBValue(ink) / 3);
            int y = midY - r.top;
            HRGN body = CreateRoundRectRgn(0, bodyTop, width, bodyBottom, 24, 24);
            int left = 0, right = width - 1;
            while (left < width && !PtInRegion(body, left, y))
                ++left;
            while (right > 0 && !PtInRegion(body, right, y))
                --right;
            DeleteObject(body);
            const COLORREF band = BandColourAt(y, height, back);
            const struct {
                int x;
                COLORREF want;
            } across[] = {{left - 1, kBackdrop}, {left, ink},       {left + 1, light},
                          {left + 2, light},     {left + 3, band},  {right - 3, band},
                          {right - 2, dark},     {right - 1, dark}, {right, ink},
                          {right + 1, kBackdrop}};
            for (const auto& a : across)
                EXPECT_EQ(a.want, shot.At(r.left + a.x, midY))
                    << "x " << a.x << ": " << ColourText(shot.At(r.left + a.x, midY));

            // Band by band down the left margin, clear of the rounded corners.
            for (int y = bodyTop + 14; y <= bodyBottom - 14; ++y) {
                COLORREF want = BandColourAt(y, height, back), got = shot.At(r.left + 4, r.top + y);
                ASSERT_EQ(want, got) << "row " << y << " of " << height << ": " << ColourText(got);
            }
        }
        HideAllBalloons();
    }
    DestroyWindow(backdrop);
}
