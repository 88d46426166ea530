#include "agent/balloon/balloon_window.h"
#include "tests/win/balloon/balloon_test_support.h"

namespace {

// Lower right quarter: the tail points down.
const int kX = 700, kY = 600;

struct BoxPoints {
    int inX, inY, outX, outY;
};

BoxPoints PointsOf(HWND w) {
    RECT box = CloseBoxOf(w, TailOnTopFor(kY));
    BoxPoints p = {(box.left + box.right) / 2, (box.top + box.bottom) / 2, box.left - 12,
                   (box.top + box.bottom) / 2};
    return p;
}

// The close box as the screen shows it.
Screenshot BoxPixels(HWND w) {
    Pump(30); // what was drawn reaches the screen with the next flush
    RECT box = CloseBoxOf(w, TailOnTopFor(kY));
    POINT origin = {box.left, box.top};
    ClientToScreen(w, &origin);
    Screenshot shot;
    shot.Take(origin.x, origin.y, box.right - box.left, box.bottom - box.top);
    return shot;
}

HBITMAP SolidBitmap(COLORREF colour, COLORREF corner) {
    HDC screen = GetDC(nullptr);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, 14, 14);
    HDC mem = CreateCompatibleDC(screen);
    HGDIOBJ old = SelectObject(mem, bitmap);
    HBRUSH brush = CreateSolidBrush(colour);
    RECT all = {0, 0, 14, 14};
    FillRect(mem, &all, brush);
    DeleteObject(brush);
    SetPixel(mem, 0, 0, corner); // the transparent colour
    SelectObject(mem, old);
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
    return bitmap;
}

} // namespace

TEST_F(BalloonTest, ShownBalloonIsListedAndAfterItsTimeoutGoesAwayWithItsObject) {
    ShowTestBalloon("Zelvantic", "The rates are ready.", kX, kY, 300);
    std::vector<HWND> open = OpenBalloons();
    ASSERT_EQ(1u, open.size());
    HWND w = open[0];
    char text[64] = "";
    GetClassNameA(w, text, sizeof text);
    EXPECT_STREQ("KelpoBalloonClass_Ovin_Ka_Spy", text);
    EXPECT_EQ(static_cast<DWORD>(CS_SAVEBITS | CS_DBLCLKS), GetClassLongA(w, GCL_STYLE));
    EXPECT_EQ(0, GetClassLongPtrA(w, GCLP_HBRBACKGROUND));
    EXPECT_EQ(static_cast<LONG>(WS_POPUP),
              GetWindowLongA(w, GWL_STYLE) & ~WS_VISIBLE & ~WS_CLIPSIBLINGS);
    GetWindowTextA(w, text, sizeof text);
    EXPECT_STREQ("Zelvantic", text);
    EXPECT_TRUE(IsWindowVisible(w));
    LONG exStyle = GetWindowLongA(w, GWL_EXSTYLE);
    EXPECT_TRUE(exStyle & WS_EX_TOPMOST);
    EXPECT_TRUE(exStyle & WS_EX_TOOLWINDOW);
    EXPECT_NE(w, GetActiveWindow()) << "a notice must not take the focus";
    EXPECT_EQ(1, LiveBalloonObjects());

    DWORD start = GetTickCount();
    Pump(150);
    EXPECT_TRUE(IsWindowVisible(w)) << "gone before its time";
    ASSERT_TRUE(PumpUntil([&] { return !IsWindow(w); }, 3000));
    EXPECT_GE(GetTickCount() - start, 250u);
    EXPECT_EQ(0u, OpenBalloons().size());
    EXPECT_EQ(0, LiveBalloonObjects());
}

TEST_F(BalloonTest, CloseBoxClosesOnlyWhenPressAndReleaseAreBothInside) {
    ShowTestBalloon("Zelvantic", "Close me.", kX, kY, 0);
    HWND w = NewestBalloon();
    ASSERT_TRUE(w);
    Pump(50);
    BoxPoints p = PointsOf(w);

    // A press that began elsewhere does not count when released in the box.
    Mouse(w, WM_LBUTTONDOWN, 12, 30);
    Mouse(w, WM_LBUTTONUP, p.inX, p.inY);
    EXPECT_TRUE(IsWindowVisible(w));

    // Pressed inside, released outside: the balloon stays and the mouse is free again.
    Mouse(w, WM_LBUTTONDOWN, p.inX, p.inY);
    EXPECT_EQ(w, GetCapture());
    Mouse(w, WM_MOUSEMOVE, p.outX, p.outY);
    Mouse(w, WM_LBUTTONUP, p.outX, p.outY);
    EXPECT_TRUE(IsWindowVisible(w));
    EXPECT_NE(w, GetCapture());

    // Pressed and released inside: hidden, destroyed and freed.
    Mouse(w, WM_LBUTTONDOWN, p.inX, p.inY);
    Mouse(w, WM_LBUTTONUP, p.inX, p.inY);
    EXPECT_FALSE(IsWindow(w));
    EXPECT_EQ(0u, OpenBalloons().size());
    EXPECT_EQ(0, LiveBalloonObjects());
}

TEST_F(BalloonTest, CloseBoxBitmapsFollowTheCursorWithTheirCornerColourTransparent) {
    const COLORREF key = RGB(255, 0, 255), red = RGB(200, 0, 0), green = RGB(0, 160, 0),
                   blue = RGB(0, 0, 200);
    HBITMAP normal = SolidBitmap(red, key), hot = SolidBitmap(green, key),
            pressed = SolidBitmap(blue, key);
    ShowTestBalloon("Zelvantic", "Bitmaps.", kX, kY, 0, normal, hot, pressed);
    HWND w = NewestBalloon();
    ASSERT_TRUE(w);
    Pump(100);
    BoxPoints p = PointsOf(w);
    auto centre = [&] { return BoxPixels(w).At(7, 7); };
    auto corner = [&] { return BoxPixels(w).At(0, 0); };

    EXPECT_EQ(red, centre()) << ColourText(centre());
    EXPECT_NE(key, corner()) << "the top-left colour is transparent";
    Mouse(w, WM_MOUSEMOVE, p.inX, p.inY);
    EXPECT_EQ(green, centre()) << ColourText(centre());
    Mouse(w, WM_LBUTTONDOWN, p.inX, p.inY);
    EXPECT_EQ(blue, centre()) << ColourText(centre());
    Mouse(w, WM_MOUSEMOVE, p.outX, p.outY);
    EXPECT_EQ(red, centre()) << ColourText(centre());
    Mouse(w, WM_MOUSEMOVE, p.inX, p.inY);
    EXPECT_EQ(blue, centre()) << "back inside while pressed: " << ColourText(centre());
    EXPECT_NE(key, corner());
    Mouse(w, WM_MOUSEMOVE, p.outX, p.outY);
    Mouse(w, WM_LBUTTONUP, p.outX, p.outY);
    EXPECT_TRUE(IsWindowVisible(w));

    HideAllBalloons();
    EXPECT_NE(0, GetObjectType(normal)) << "the caller's bitmaps stay the caller's";
    DeleteObject(normal);
    DeleteObject(hot);
    DeleteObject(pressed);
}

TEST_F(BalloonTest, WithoutBitmapsTheSystemCloseButtonShowsThreeLooks) {
    ShowTestBalloon("Zelvantic", "System button.", kX, kY, 0);
    HWND w = NewestBalloon();
    ASSERT_TRUE(w);
    Pump(100);
    BoxPoints p = PointsOf(w);
    Screenshot away = BoxPixels(w);

    // Its flat look is checked pixel by pixel with the layout; here the three looks differ.
    Mouse(w, WM_MOUSEMOVE, p.inX, p.inY);
    Screenshot over = BoxPixels(w);
    Mouse(w, WM_LBUTTONDOWN, p.inX, p.inY);
    Screenshot pressed = BoxPixels(w);
    EXPECT_FALSE(over == away);
    EXPECT_FALSE(pressed == over);
    EXPECT_FALSE(pressed == away);
    Mouse(w, WM_MOUSEMOVE, p.outX, p.outY);
    EXPECT_TRUE(BoxPixels(w) == away);
    Mouse(w, WM_MOUSEMOVE, p.inX, p.inY);
    EXPECT_TRUE(BoxPixels(w) == pressed);
    Mouse(w, WM_LBUTTONUP, p.outX, p.outY);
}

TEST_F(BalloonTest, HideAllBalloonsClosesEveryBalloonAndNothingElse) {
    HWND other = CreateWindowExA(0, "STATIC", "not a balloon", WS_POPUP, 0, 0, 50, 50, nullptr,
                                 nullptr, nullptr, nullptr);
    ASSERT_TRUE(other);
    HideAllBalloons();
    EXPECT_TRUE(IsWindow(other));
    EXPECT_EQ(0, LiveBalloonObjects());

    ShowTestBalloon("One", "first", 200, 200, 0);
    ShowTestBalloon("Two", "second", 700, 200, 0);
    ShowTestBalloon("Three", "third", kX, kY, 0);
    std::vector<HWND> open = OpenBalloons();
    ASSERT_EQ(3u, open.size());
    EXPECT_EQ(3, LiveBalloonObjects());
    HideAllBalloons();
    for (HWND w : open)
        EXPECT_FALSE(IsWindow(w));
    EXPECT_EQ(0u, OpenBalloons().size());
    EXPECT_EQ(0, LiveBalloonObjects());
    EXPECT_TRUE(IsWindow(other));
    DestroyWindow(other);

    // The list works again after it was emptied.
    ShowTestBalloon("Four", "again", kX, kY, 0);
    EXPECT_EQ(1u, OpenBalloons().size());
}

TEST_F(BalloonTest, ABalloonThatDoesNotOwnItselfOnlyHidesUntilItsOwnerDeletesIt) {
    HWND w;
    {
        BalloonWindow balloon;
        ASSERT_TRUE(
            balloon.Create("Kept", "by its owner", kX, kY, 0, BalloonCloseBox, nullptr, 150));
        w = balloon.Window();
        ASSERT_TRUE(w);
        EXPECT_FALSE(IsWindowVisible(w)) << "created hidden";
        balloon.Show();
        EXPECT_TRUE(IsWindowVisible(w));
        SendMessageA(w, WM_CLOSE, 0, 0);
        EXPECT_FALSE(IsWindowVisible(w)) << "closing hides";
        EXPECT_TRUE(IsWindow(w)) << "closing does not destroy";

        balloon.Show();
        ASSERT_TRUE(PumpUntil([&] { return !IsWindowVisible(w); }, 3000));
        EXPECT_TRUE(IsWindow(w));
        EXPECT_EQ(1u, OpenBalloons().size());

        balloon.SetAutoHide(0);
        ShowWindow(w, SW_SHOWNOACTIVATE);
        Pump(300);
        EXPECT_TRUE(IsWindowVisible(w)) << "no time-out, no hiding";
    }
    EXPECT_FALSE(IsWindow(w));
    EXPECT_EQ(0u, OpenBalloons().size());
}

TEST_F(BalloonTest, DeletingASelfOwningBalloonFreesItOnce) {
    BalloonWindow* balloon = new BalloonWindow;
    ASSERT_TRUE(balloon->Create("Gone", "early", kX, kY, kInformationIcon,
                                BalloonDestroyOnHide | BalloonCloseBox, nullptr, 0));
    HWND w = balloon->Window();
    EXPECT_EQ(1, LiveBalloonObjects());
    delete balloon;
    EXPECT_FALSE(IsWindow(w));
    EXPECT_EQ(0, LiveBalloonObjects()) << "deleted twice or not at all";
}

TEST_F(BalloonTest, HundredShowAndHideCyclesLeaveTheGdiObjectCountFlat) {
    HBITMAP normal = SolidBitmap(RGB(1, 2, 3), 0), hot = SolidBitmap(RGB(4, 5, 6), 0),
            pressed = SolidBitmap(RGB(7, 8, 9), 0);
    auto cycle = [&] {
        ShowTestBalloon("Zelvantic", "The currency update is ready.\nPlease HotSync.", kX, kY, 0,
                        normal, hot, pressed);
        HWND w = NewestBalloon();
        UpdateWindow(w);
        BoxPoints p = PointsOf(w);
        Mouse(w, WM_MOUSEMOVE, p.inX, p.inY);
        Mouse(w, WM_LBUTTONDOWN, p.inX, p.inY);
        Mouse(w, WM_MOUSEMOVE, p.outX, p.outY);
        Mouse(w, WM_LBUTTONUP, p.outX, p.outY);
        HideAllBalloons();
    };
    cycle(); // the first one may load fonts and stock objects for good
    cycle();
    DWORD before = GdiObjectCount();
    ASSERT_GT(before, 0u);
    for (int i = 0; i < 100; ++i)
        cycle();
    DWORD after = GdiObjectCount();
    EXPECT_EQ(before, after);
    printf("GDI objects before %lu, after 100 cycles %lu\n", before, after);

    DeleteObject(normal);
    DeleteObject(hot);
    DeleteObject(pressed);
}
