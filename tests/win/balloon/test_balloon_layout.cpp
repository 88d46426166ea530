// The balloon's size, shape, close box and text places, read back from the real window and the
// screen and compared with the layout worked out in balloon_test_support.cpp.
#include <string>

#include "agent/balloon/balloon_window.h"
#include "tests/win/balloon/balloon_test_support.h"

namespace {

void ExpectRect(const RECT& want, const RECT& got, const char* what) {
    EXPECT_EQ(want.left, got.left) << what;
    EXPECT_EQ(want.top, got.top) << what;
    EXPECT_EQ(want.right, got.right) << what;
    EXPECT_EQ(want.bottom, got.bottom) << what;
}

// The text as this test draws it with its own font, in ink on white, over a window-sized area.
Screenshot Rendered(int width, int height, const char* text, int weight, UINT flags, RECT at) {
    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ oldBitmap = SelectObject(mem, bitmap);
    RECT all = {0, 0, width, height};
    FillRect(mem, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    HFONT font = BalloonFont(weight);
    HGDIOBJ oldFont = SelectObject(mem, font);
    SetTextColor(mem, GetSysColor(COLOR_INFOTEXT));
    SetBkMode(mem, TRANSPARENT);
    DrawTextA(mem, text, -1, &at, flags | DT_NOPREFIX | DT_EXPANDTABS);
    Screenshot shot;
    shot.width = width;
    shot.height = height;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            shot.pixels.push_back(GetPixel(mem, x, y));
    SelectObject(mem, oldFont);
    DeleteObject(font);
    SelectObject(mem, oldBitmap);
    DeleteObject(bitmap);
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
    return shot;
}

// Pixels in ink inside area that are ink in one picture and not in the other; *inked counts the
// ink of the expected picture.
int InkDifferences(const Screenshot& got, const Screenshot& want, const RECT& area, int* inked) {
    const COLORREF ink = GetSysColor(COLOR_INFOTEXT);
    int differ = 0;
    *inked = 0;
    for (int y = area.top; y < area.bottom; ++y)
        for (int x = area.left; x < area.right; ++x) {
            bool expected = want.At(x, y) == ink;
            *inked += expected;
            differ += expected != (got.At(x, y) == ink);
        }
    return differ;
}

void CheckLayout(const char* title, const char* text, int anchorX, int anchorY) {
    SCOPED_TRACE(testing::Message() << "anchor " << anchorX << "," << anchorY);
    ShowTestBalloon(title, text, anchorX, anchorY, 0);
    HWND w = NewestBalloon();
    ASSERT_TRUE(w);
    ExpectedBalloon e = Expect(title, text, anchorX, anchorY);
    RECT r;
    GetWindowRect(w, &r);
    ExpectRect(e.window, r, "window");
    int width = r.right - r.left, height = r.bottom - r.top;

    HRGN shape = CreateRectRgn(0, 0, 0, 0), want = CreateRectRgn(0, 0, 0, 0);
    HRGN tail = CreatePolygonRgn(e.tail, 3, ALTERNATE);
    HRGN body = CreateRoundRectRgn(e.body.left, e.body.top, e.body.right, e.body.bottom, 24, 24);
    CombineRgn(want, tail, body, RGN_OR);
    EXPECT_NE(ERROR, GetWindowRgn(w, shape));
    EXPECT_EQ(NULLREGION, CombineRgn(want, want, shape, RGN_XOR))
        << "the shape is not the tail and the rounded body";
    for (HRGN rgn : {shape, want, tail, body})
        DeleteObject(rgn);

    Pump(100);
    Screenshot shot;
    ASSERT_TRUE(shot.Take(r.left, r.top, width, height));

    // The close box: the system's flat caption close button, exactly in its place.
    RECT box = e.closeBox;
    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, box.right - box.left, box.bottom - box.top);
    HGDIOBJ old = SelectObject(mem, bitmap);
    RECT face = {0, 0, box.right - box.left, box.bottom - box.top};
    DrawFrameControl(mem, &face, DFC_CAPTION, DFCS_CAPTIONCLOSE | DFCS_FLAT);
    int differ = 0;
    for (int y = 0; y < face.bottom; ++y)
        for (int x = 0; x < face.right; ++x)
            differ += GetPixel(mem, x, y) != shot.At(box.left + x, box.top + y);
    SelectObject(mem, old);
    DeleteObject(bitmap);
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
    EXPECT_EQ(0, differ) << "close box pixels";

    // The bold title, centred beside the close box (the icon's corner left out), and the
    // message below the title row.
    int inked = 0;
    if (title && *title) {
        std::string shown = std::string(title).substr(0, 125);
        RECT area = {e.title.left + 16, e.title.top, e.title.right, e.title.top + 16};
        Screenshot titleInk =
            Rendered(width, height, shown.c_str(), 700, DT_SINGLELINE | DT_CENTER, e.title);
        EXPECT_EQ(0, InkDifferences(shot, titleInk, area, &inked)) << "title pixels";
        EXPECT_GT(inked, 20);
    }
    if (text && *text) {
        // Within the body, clear of its outline rings.
        RECT area, inner = e.body;
        InflateRect(&inner, -4, -4);
        IntersectRect(&area, &e.message, &e.content);
        IntersectRect(&area, &area, &inner);
        Screenshot messageInk = Rendered(width, height, text, 400, DT_WORDBREAK, e.message);
        EXPECT_EQ(0, InkDifferences(shot, messageInk, area, &inked)) << "message pixels";
        EXPECT_GT(inked, 20);
    }
    HideAllBalloons();
}

std::string Essay() {
    std::string essay;
    for (int i = 0; i < 120; ++i)
        essay += "currency ";
    return essay;
}

} // namespace

TEST_F(BalloonTest, LayoutFollowsTheRulesInEveryQuarter) {
    // Tail down on the right; a line feed gives a second line.
    CheckLayout("Zelvantic",
                "The currency update is ready.\nStart a HotSync to copy it to the handheld.", 700,
                600);
    // Tail up on the left; the long message wraps at about half the screen.
    CheckLayout("Zelvantic", Essay().c_str(), 200, 150);
    // Near the right edge: moved inside, the tip still on the anchor. Only 125 characters of the
    // title count.
    CheckLayout(std::string(200, 'i').c_str(), "Rates ready", 1020, 600);
    // One line that just fits the wrap width and one a pixel wider, which wraps.
    int wrapWidth =
        GetSystemMetrics(SM_CXFULLSCREEN) - (GetSystemMetrics(SM_CXFULLSCREEN) - 8) / 2 - 8;
    std::string fits = TextOfWidth(wrapWidth), over = TextOfWidth(wrapWidth + 1);
    ASSERT_FALSE(fits.empty() || over.empty());
    CheckLayout("Zelvantic", (fits + "\n" + over).c_str(), 600, 500);
    // The screen's middle belongs to the right and lower halves; upper right.
    CheckLayout("Zelvantic", "Middle", GetSystemMetrics(SM_CXFULLSCREEN) / 2,
                GetSystemMetrics(SM_CYFULLSCREEN) / 2);
    CheckLayout("Zelvantic", "Upper right", 700, 100);
    // No message: the title row alone; tail down on the left.
    CheckLayout("Zelvantic", nullptr, 100, 700);
}

TEST_F(BalloonTest, AnAnchorInTheOwnersClientArea) {
    // Owner with its client area at (300, 200): the anchor (50, 60) is (350, 260) on screen.
    HWND owner = CreateWindowExA(WS_EX_TOOLWINDOW, "STATIC", "", WS_POPUP | WS_VISIBLE, 300, 200,
                                 200, 100, nullptr, nullptr, nullptr, nullptr);
    ASSERT_TRUE(owner);
    ShowBalloon("Zelvantic", "Upper left", 50, 60, kInformationIcon, BalloonCloseBox, owner, 0,
                nullptr, nullptr, nullptr);
    HWND w = NewestBalloon();
    ASSERT_TRUE(w);
    EXPECT_EQ(owner, GetWindow(w, GW_OWNER));
    RECT r;
    GetWindowRect(w, &r);
    ExpectRect(Expect("Zelvantic", "Upper left", 350, 260).window, r, "window");
    HideAllBalloons();
    DestroyWindow(owner);
}

TEST_F(BalloonTest, AbsentTextsOrAStaleOwnerAreHandledSafely) {
    ShowBalloon(nullptr, nullptr, 700, 600, 0, 0, nullptr, 100, nullptr, nullptr, nullptr);
    HWND w = NewestBalloon();
    ASSERT_TRUE(w);
    RECT r;
    GetWindowRect(w, &r);
    // Nothing but the title row's 6-pixel start and its 4 + 4 height; no close box asked for.
    EXPECT_EQ(6 + 16, r.right - r.left);
    EXPECT_EQ(4 + 4 + 8 + 36, r.bottom - r.top);
    ASSERT_TRUE(PumpUntil([&] { return !IsWindow(w); }, 3000));

    // An owner that is no window any more: nothing is shown and nothing is left behind.
    HWND gone = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr,
                                nullptr);
    DestroyWindow(gone);
    ShowBalloon("Zelvantic", "orphan", 10, 10, kInformationIcon, BalloonCloseBox, gone, 0, nullptr,
                nullptr, nullptr);
    EXPECT_EQ(0u, OpenBalloons().size());
    EXPECT_EQ(0, LiveBalloonObjects()) << "the object of a balloon that never opened is freed";
}
