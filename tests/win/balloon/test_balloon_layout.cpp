#include <string>

#include "agent/balloon/balloon_window.h"
#include "tests/win/balloon/balloon_test_support.h"

namespace {

const int kX = 700, kY = 600;

SIZE SizeOf(HWND w) {
    RECT r;
    GetWindowRect(w, &r);
    SIZE s = {r.right - r.left, r.bottom - r.top};
    return s;
}

SIZE BalloonSize(const char* title, const char* text) {
    ShowTestBalloon(title, text, kX, kY, 0);
    SIZE s = SizeOf(NewestBalloon());
    HideAllBalloons();
    return s;
}

// Where a balloon's tail tip sits on screen, from its size and side.
POINT TipOf(HWND w, int side) {
    RECT r;
    GetWindowRect(w, &r);
    int width = r.right - r.left, height = r.bottom - r.top, q = (width - 20) / 4;
    int x = side == TailTopRight || side == TailBottomRight ? 3 * q + 20 : q;
    if (x < 8) x = 8;
    if (x > width - 8) x = width - 8;
    POINT tip = {r.left + x, r.top + (TailOnTop(side) ? 1 : height - 2)};
    return tip;
}

} // namespace

TEST_F(BalloonTest, OnlyTheFirst125CharactersOfTheTitleAreMeasured) {
    std::string longTitle(300, 'W');
    SIZE full = BalloonSize(longTitle.c_str(), nullptr);
    SIZE cut = BalloonSize(longTitle.substr(0, 125).c_str(), nullptr);
    SIZE shorter = BalloonSize(longTitle.substr(0, 124).c_str(), nullptr);
    EXPECT_EQ(cut.cx, full.cx);
    EXPECT_EQ(cut.cy, full.cy);
    EXPECT_GT(cut.cx, shorter.cx) << "the title row sets the width here";
}

TEST_F(BalloonTest, MessageLinesMakeTheBalloonTallerAndLongTextWrapsAtHalfTheScreen) {
    SIZE one = BalloonSize("Zelvantic", "Rates ready");
    SIZE two = BalloonSize("Zelvantic", "Rates ready\nRates ready");
    SIZE wider = BalloonSize("Zelvantic", "Rates ready\nThe currency update waits for a HotSync");
    EXPECT_GT(two.cy, one.cy);
    EXPECT_LT(two.cy, 2 * one.cy);
    EXPECT_EQ(one.cx, two.cx) << "the width follows the longest line";
    EXPECT_GT(wider.cx, two.cx);
    EXPECT_EQ(two.cy, wider.cy);

    std::string essay;
    for (int i = 0; i < 200; ++i)
        essay += "currency ";
    SIZE wrapped = BalloonSize("Zelvantic", essay.c_str());
    int limit = MessageWrapRight(GetSystemMetrics(SM_CXFULLSCREEN)) - 8 + 16;
    EXPECT_LE(wrapped.cx, limit);
    EXPECT_GT(wrapped.cx, limit - 80) << "wraps near the limit, not far inside it";
    int line = two.cy - one.cy;
    ASSERT_GT(line, 0);
    EXPECT_GE((wrapped.cy - one.cy) / line, 15) << "about 20 lines of wrapped words";
}

TEST_F(BalloonTest, TheTipPointsAtTheAnchorInScreenOrOwnerClientCoordinates) {
    ShowTestBalloon("Zelvantic", "Lower right", kX, kY, 0);
    HWND w = NewestBalloon();
    POINT tip = TipOf(w, TailBottomRight);
    EXPECT_EQ(kX, tip.x);
    EXPECT_EQ(kY, tip.y);
    EXPECT_EQ(nullptr, GetWindow(w, GW_OWNER));
    HideAllBalloons();

    // Owner with its client area at (300, 200): the anchor (50, 60) is (350, 260) on screen.
    HWND owner = CreateWindowExA(WS_EX_TOOLWINDOW, "STATIC", "", WS_POPUP | WS_VISIBLE, 300, 200,
                                 200, 100, nullptr, nullptr, nullptr, nullptr);
    ASSERT_TRUE(owner);
    ShowBalloon("Zelvantic", "Upper left", 50, 60, kInformationIcon, BalloonCloseBox, owner, 0,
                nullptr, nullptr, nullptr);
    w = NewestBalloon();
    ASSERT_TRUE(w);
    EXPECT_EQ(owner, GetWindow(w, GW_OWNER));
    tip = TipOf(w, TailTopLeft);
    EXPECT_EQ(350, tip.x);
    EXPECT_EQ(260, tip.y);

    // The window's shape: the tip is in it, the corner beside the tail and the square corner
    // of the body are not.
    RECT r;
    GetWindowRect(w, &r);
    HRGN shape = CreateRectRgn(0, 0, 0, 0);
    ASSERT_NE(ERROR, GetWindowRgn(w, shape));
    EXPECT_TRUE(PtInRegion(shape, tip.x - r.left + 2, tip.y - r.top + 5));
    EXPECT_FALSE(PtInRegion(shape, 1, 21)) << "rounded corner";
    EXPECT_FALSE(PtInRegion(shape, r.right - r.left - 2, 5)) << "beside the tail";
    EXPECT_TRUE(PtInRegion(shape, (r.right - r.left) / 2, (r.bottom - r.top) / 2));
    DeleteObject(shape);
    HideAllBalloons();
    DestroyWindow(owner);
}

TEST_F(BalloonTest, AbsentTextsOrAStaleOwnerAreHandledSafely) {
    ShowBalloon(nullptr, nullptr, kX, kY, 0, 0, nullptr, 100, nullptr, nullptr, nullptr);
    HWND w = NewestBalloon();
    ASSERT_TRUE(w);
    SIZE bare = SizeOf(w);
    EXPECT_GT(bare.cx, 16);
    EXPECT_GT(bare.cy, 36);
    ASSERT_TRUE(PumpUntil([&] { return !IsWindow(w); }, 3000));

    SIZE empty = BalloonSize("", "");
    SIZE titled = BalloonSize("Zelvantic", "");
    EXPECT_GT(titled.cx, empty.cx);

    // An owner that is no window any more: nothing is shown and nothing is left behind.
    HWND gone = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr,
                                nullptr);
    DestroyWindow(gone);
    ShowBalloon("Zelvantic", "orphan", 10, 10, kInformationIcon, BalloonCloseBox, gone, 0, nullptr,
                nullptr, nullptr);
    EXPECT_EQ(0u, OpenBalloons().size());
    EXPECT_EQ(0, LiveBalloonObjects()) << "the object of a balloon that never opened is freed";
}
