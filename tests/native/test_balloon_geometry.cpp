#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "agent/balloon/balloon_geometry.h"

namespace {

const BalloonRect kScreen = {0, 0, 1024, 768};

// A balloon whose title row is 100 x 22 and whose message measures 200 x 26: 216 x 92 overall.
BalloonPlacement PlaceAt(int x, int y, const BalloonRect& bounds = kScreen) {
    int side = ChooseTailSide(bounds, x, y);
    return PlaceBalloon(side, 100, 22, 200, 26, x, y, bounds);
}

typedef std::vector<std::pair<int, int>> Points;

// The tail's points as (x, y): the base point, the tip, the tip's foot on the body.
Points Tail(const BalloonPlacement& p) {
    Points points;
    for (const BalloonPoint& t : p.tail)
        points.push_back({t.x, t.y});
    return points;
}

BalloonPoint TipOnScreen(const BalloonPlacement& p) {
    BalloonPoint tip = {p.x + p.tail[1].x, p.y + p.tail[1].y};
    return tip;
}

} // namespace

TEST(BalloonGeometry, TailPointsSitAQuarterOrThreeQuartersAlongAndAreClampedToTheBody) {
    // q = (216 - 20) / 4 = 49
    EXPECT_EQ((Points{{147, 70}, {167, 90}, {167, 70}}), Tail(PlaceAt(700, 600)));
    EXPECT_EQ((Points{{69, 21}, {49, 1}, {49, 21}}), Tail(PlaceAt(100, 100)));

    // A narrow balloon (30 wide, q = 2) keeps every point 8 pixels inside its sides.
    BalloonPlacement narrow = PlaceBalloon(TailTopRight, 14, 22, 0, 0, 700, 100, kScreen);
    ASSERT_EQ(30, narrow.width);
    EXPECT_EQ((Points{{8, 21}, {22, 1}, {22, 21}}), Tail(narrow));
    narrow = PlaceBalloon(TailTopLeft, 14, 22, 0, 0, 100, 100, kScreen);
    EXPECT_EQ((Points{{22, 21}, {8, 1}, {8, 21}}), Tail(narrow));
}

TEST(BalloonGeometry, AnAnchorNearASideMovesTheWindowInsideAndTheTipFollowsTheAnchor) {
    BalloonPlacement p = PlaceAt(1020, 600);
    EXPECT_EQ(1024, p.x + p.width) << "ends at the right edge";
    EXPECT_EQ(167 + 45, p.tail[1].x) << "the tip moved right by the correction";
    EXPECT_EQ(1020, TipOnScreen(p).x);

    p = PlaceAt(3, 600);
    EXPECT_EQ(0, p.x);
    EXPECT_EQ(3, p.tail[1].x);
    EXPECT_EQ(3, TipOnScreen(p).x);

    // Exactly ending at the edge already: nothing moves.
    p = PlaceAt(1024 - 216 + 167, 600);
    EXPECT_EQ(1024 - 216, p.x);
    EXPECT_EQ(167, p.tail[1].x);
}

TEST(BalloonGeometry, TwentyPixelsOfSlackForTheTailAtTopAndBottom) {
    const BalloonRect bounds = {0, 50, 1024, 768};
    // Tail on top, tip at y = 1: the window's top is the anchor's y less 1.
    BalloonPlacement p = PlaceAt(100, 31, bounds);
    EXPECT_EQ(30, p.y) << "exactly 20 above the bounds stays";
    p = PlaceAt(100, 30, bounds);
    EXPECT_EQ(30, p.y) << "21 above is moved down to 20 above";
    EXPECT_EQ(1, p.tail[1].y) << "the tip's height is not corrected";
    p = PlaceAt(100, 0, bounds);
    EXPECT_EQ(30, p.y);

    // Tail at the bottom, tip at y = h - 2 = 90: the window may reach 20 below the bounds.
    const BalloonRect low = {0, 0, 1024, 700};
    p = PlaceAt(700, 697, low);
    EXPECT_EQ(607, p.y);
    p = PlaceAt(700, 718, low);
    EXPECT_EQ(720, p.y + p.height) << "exactly 20 below stays";
    p = PlaceAt(700, 719, low);
    EXPECT_EQ(720, p.y + p.height) << "21 below is moved up";
    EXPECT_EQ(90, p.tail[1].y);
}

TEST(BalloonCloseBox, PressInsideReleaseOutsideAndBackAgain) {
    unsigned s = CloseAway;
    s = CloseStateAfterMove(s, true);
    EXPECT_EQ(CloseOver, CloseLook(s));
    s |= ClosePressed; // button goes down in the box
    s = CloseStateAfterMove(s, true);
    EXPECT_EQ(ClosePressed, CloseLook(s));
    s = CloseStateAfterMove(s, false);
    EXPECT_EQ(CloseAway, CloseLook(s));
    EXPECT_TRUE(s & ClosePressed) << "the press survives leaving the box";
    s = CloseStateAfterMove(s, true);
    EXPECT_EQ(ClosePressed, CloseLook(s)) << "coming back shows the pressed look again";
    s &= ~ClosePressed; // button up
    s = CloseStateAfterMove(s, true);
    EXPECT_EQ(CloseOver, CloseLook(s));
    EXPECT_EQ(static_cast<unsigned>(CloseAway), CloseStateAfterMove(CloseOver, false));
}
