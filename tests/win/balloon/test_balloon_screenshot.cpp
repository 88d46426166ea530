// Pictures of balloons on the screen, kept as artefacts, with the pixels that prove the shape.
#include <windows.h>
#include <shellapi.h>

#include "agent/balloon/balloon_window.h"
#include "tests/win/balloon/balloon_test_support.h"

namespace {

const COLORREF kBackdrop = RGB(255, 0, 255);

LRESULT CALLBACK BackdropProc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    return DefWindowProcA(w, m, wp, lp);
}

// A plain magenta window under the balloons, so that anything they leave unpainted shows.
HWND Backdrop(int x, int y, int w, int h) {
    static ATOM atom;
    static HBRUSH brush = CreateSolidBrush(kBackdrop);
    if (!atom) {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = BackdropProc;
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

int BandAt(int y, int height) {
    for (int i = 0; i < kGradientBands; ++i)
        if (y >= BandTop(i, height) && y < BandTop(i + 1, height)) return i;
    return -1;
}

} // namespace

TEST_F(BalloonTest, ScreenshotShowsTheSpeechBubbleShapeGradientAndBevel) {
    HWND backdrop = Backdrop(60, 60, 900, 620);
    ASSERT_TRUE(backdrop);
    // One balloon with its tail down (lower right), one with its tail up (upper left).
    ShowTestBalloon("Zelvantic",
                    "The currency update is ready.\nStart a HotSync to copy it to the handheld.",
                    760, 560, 0);
    HWND down = NewestBalloon();
    ShowTestBalloon("Zelvantic",
                    "Successfully updated the currency \ndatabase during hot sync "
                    "operation.",
                    200, 150, 0);
    HWND up = NewestBalloon();
    ASSERT_TRUE(down && up);
    Pump(300);

    Screenshot shot;
    ASSERT_TRUE(shot.Take());
    std::string path = ArtifactPath("balloon_window.png");
    EXPECT_TRUE(shot.SavePng(path)) << path;

    const COLORREF back = GetSysColor(COLOR_INFOBK), ink = GetSysColor(COLOR_INFOTEXT);
    for (HWND w : {down, up}) {
        bool top = w == up;
        SCOPED_TRACE(top ? "tail up" : "tail down");
        RECT r;
        GetWindowRect(w, &r);
        int width = r.right - r.left, height = r.bottom - r.top;
        BalloonRect body = BodyRect(top ? TailTopLeft : TailBottomRight, width, height);
        int midY = r.top + (body.top + body.bottom) / 2;

        // Outside the region the backdrop shows through.
        EXPECT_EQ(kBackdrop, shot.At(r.left, r.top + body.top)) << "body corner";
        EXPECT_EQ(kBackdrop, shot.At(r.right - 1, r.top + body.bottom - 1)) << "body corner";
        int besideTail = top ? r.top + 5 : r.bottom - 5;
        EXPECT_EQ(kBackdrop, shot.At(r.left + 3, besideTail)) << "beside the tail";
        EXPECT_EQ(kBackdrop, shot.At(r.left - 1, midY)) << "just left of the window";
        EXPECT_EQ(kBackdrop, shot.At(r.right, midY)) << "just right of the window";

        // The outline: ink on the shape, the light ring inside it.
        EXPECT_EQ(ink, shot.At(r.left, midY)) << ColourText(shot.At(r.left, midY));
        COLORREF light = LightRingColour(back);
        EXPECT_EQ(light, shot.At(r.left + 1, midY)) << ColourText(shot.At(r.left + 1, midY));

        // The gradient, band by band, down the body's left margin.
        for (int y = body.top + 14; y <= body.bottom - 14; y += 3) {
            COLORREF want = GradientBandColour(back, BandAt(y, height));
            COLORREF got = shot.At(r.left + 4, r.top + y);
            ASSERT_EQ(want, got) << "y " << y << ": " << ColourText(got) << " for "
                                 << ColourText(want);
        }
    }

    // With the body reaching the window's bottom, its lowest band is near RGB(255, 200, 100).
    RECT r;
    GetWindowRect(up, &r);
    // The region leaves out the last row; the bevel and outline take the three above it.
    int midX = (r.left + r.right) / 2, height = r.bottom - r.top;
    COLORREF bottom = shot.At(midX, r.bottom - 5);
    EXPECT_EQ(GradientBandColour(back, BandAt(height - 5, height)), bottom);
    EXPECT_TRUE(Near(bottom, RGB(255, 200, 100), 15)) << ColourText(bottom);
    COLORREF topmost = shot.At(midX, r.top + 23);
    EXPECT_FALSE(Near(topmost, RGB(255, 200, 100), 30)) << "the top is nearer the back colour";

    HideAllBalloons();
    DestroyWindow(backdrop);
}

namespace {

LRESULT CALLBACK IconOwnerProc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    return DefWindowProcA(w, m, wp, lp);
}

} // namespace

TEST_F(BalloonTest, ScreenshotOfAShellBalloonForComparison) {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = IconOwnerProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "ZlvBalloonIconOwner";
    RegisterClassA(&wc);
    HWND owner = CreateWindowExA(0, wc.lpszClassName, "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                                 wc.hInstance, nullptr);
    ASSERT_TRUE(owner);

    NOTIFYICONDATAA icon = {};
    icon.cbSize = sizeof icon;
    icon.hWnd = owner;
    icon.uFlags = NIF_ICON | NIF_TIP | NIF_MESSAGE;
    icon.uCallbackMessage = WM_USER;
    icon.hIcon = LoadIconA(nullptr, MAKEINTRESOURCEA(kInformationIcon));
    lstrcpyA(icon.szTip, "Zelvantic Desktop Agent v1.5");
    if (!Shell_NotifyIconA(NIM_ADD, &icon)) {
        DestroyWindow(owner);
        GTEST_SKIP() << "no notification area on this desktop";
    }
    // The icon's own window may appear first: compare against the screen with the icon shown.
    Pump(800);
    Screenshot before;
    ASSERT_TRUE(before.Take());
    icon.uFlags |= NIF_INFO;
    icon.dwInfoFlags = NIIF_INFO;
    icon.uTimeout = 4;
    lstrcpyA(icon.szInfo, "The currency update is ready.");
    lstrcpyA(icon.szInfoTitle, "Zelvantic");
    EXPECT_TRUE(Shell_NotifyIconA(NIM_MODIFY, &icon));

    // The shell shows it a moment later; wait for a sizeable change on the screen.
    Screenshot shot;
    RECT changed = {0, 0, 0, 0};
    bool shown = PumpUntil(
        [&] {
            if (!shot.Take()) return false;
            int count = 0;
            SetRect(&changed, shot.width, shot.height, 0, 0);
            for (int y = 0; y < shot.height; ++y)
                for (int x = 0; x < shot.width; ++x) {
                    if (shot.At(x, y) == before.At(x, y)) continue;
                    ++count;
                    changed.left = x < changed.left ? x : changed.left;
                    changed.top = y < changed.top ? y : changed.top;
                    changed.right = x >= changed.right ? x + 1 : changed.right;
                    changed.bottom = y >= changed.bottom ? y + 1 : changed.bottom;
                }
            return count > 2000;
        },
        6000);
    if (shown)
        printf("shell balloon within (%ld, %ld)-(%ld, %ld)\n", changed.left, changed.top,
               changed.right, changed.bottom);
    Pump(300); // let it finish drawing
    shot.Take();
    std::string path = ArtifactPath("shell_balloon.png");
    EXPECT_TRUE(shot.SavePng(path)) << path;
    Shell_NotifyIconA(NIM_DELETE, &icon);
    DestroyWindow(owner);
    if (!shown) GTEST_SKIP() << "the shell showed no balloon within 6 s";
}
