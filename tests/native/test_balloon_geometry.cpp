#include <gtest/gtest.h>

#include "agent/balloon/balloon_geometry.h"

namespace {

const BalloonRect kScreen = {0, 0, 1024, 768};

// A balloon whose title row is 100 x 22 and whose message measures 200 x 26: 216 x 92 overall.
BalloonPlacement PlaceAt(int x, int y, const BalloonRect& bounds = kScreen) {
    int side = ChooseTailSide(bounds, x, y);
    return PlaceBalloon(side, 100, 22, 200, 26, x, y, bounds);
}

BalloonPoint TipOnScreen(const BalloonPlacement& p) {
    BalloonPoint tip = {p.x + p.tail[1].x, p.y + p.tail[1].y};
    return tip;
}

} // namespace

TEST(BalloonGeometry, EachQuarterOfTheScreenPicksItsTailSideAndTheTipLandsOnTheAnchor) {
    struct Case {
        int x, y, side;
    } cases[] = {
        {700, 600, TailBottomRight},
        {100, 600, TailBottomLeft},
        {700, 100, TailTopRight},
        {100, 100, TailTopLeft},
        {512, 384, TailBottomRight}, // the middles belong to the right
                                     // and lower halves
        {511, 383, TailTopLeft},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.x << "," << c.y);
        EXPECT_EQ(c.side, ChooseTailSide(kScreen, c.x, c.y));
        BalloonPlacement p = PlaceAt(c.x, c.y);
        EXPECT_EQ(216, p.width);
        EXPECT_EQ(92, p.height);
        BalloonPoint tip = TipOnScreen(p);
        EXPECT_EQ(c.x, tip.x);
        EXPECT_EQ(c.y, tip.y);
    }
}

TEST(BalloonGeometry, TailPointsSitAQuarterOrThreeQuartersAlongAndAreClampedToTheBody) {
    BalloonPlacement p = PlaceAt(700, 600); // q = (216 - 20) / 4 = 49
    EXPECT_EQ(147, p.tail[0].x);
    EXPECT_EQ(70, p.tail[0].y);
    EXPECT_EQ(167, p.tail[1].x);
    EXPECT_EQ(90, p.tail[1].y);
    EXPECT_EQ(167, p.tail[2].x);
    EXPECT_EQ(70, p.tail[2].y);

    p = PlaceAt(100, 100);
    EXPECT_EQ(69, p.tail[0].x);
    EXPECT_EQ(21, p.tail[0].y);
    EXPECT_EQ(49, p.tail[1].x);
    EXPECT_EQ(1, p.tail[1].y);

    // A narrow balloon (30 wide, q = 2) keeps every point 8 pixels inside its sides.
    BalloonPlacement narrow = PlaceBalloon(TailTopRight, 14, 22, 0, 0, 700, 100, kScreen);
    ASSERT_EQ(30, narrow.width);
    EXPECT_EQ(8, narrow.tail[0].x);
    EXPECT_EQ(22, narrow.tail[1].x);
    EXPECT_EQ(22, narrow.tail[2].x);
    narrow = PlaceBalloon(TailTopLeft, 14, 22, 0, 0, 100, 100, kScreen);
    EXPECT_EQ(22, narrow.tail[0].x);
    EXPECT_EQ(8, narrow.tail[1].x);
    EXPECT_EQ(8, narrow.tail[2].x);
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

TEST(BalloonColours, GradientRunsFromTheBackColourTowardsOrange) {
    const BalloonColour back = MakeColour(255, 255, 225);
    EXPECT_EQ(back, GradientBandColour(back, 0));
    EXPECT_EQ(back, GradientBandColour(back, 1)) << "t is 0.00 for the first two bands";
    EXPECT_EQ(MakeColour(255, 254, 223), GradientBandColour(back, 2));   // t = 0.01
    EXPECT_EQ(MakeColour(255, 227, 162), GradientBandColour(back, 100)); // t = 0.50
    EXPECT_EQ(MakeColour(255, 200, 101), GradientBandColour(back, 199)); // t = 0.99
    EXPECT_EQ(MakeColour(252, 198, 99), GradientBandColour(MakeColour(0, 0, 0), 199));

    // A channel that already has the target's value keeps it in every band; worked in floating
    // point some bands would come out one short.
    for (int i = 0; i < 200; ++i) {
        for (int v = 0; v < 256; v += 15) {
            BalloonColour c = GradientBandColour(MakeColour(255, v, 100), i);
            ASSERT_EQ(255, ColourRed(c)) << "band " << i;
            ASSERT_EQ(100, ColourBlue(c)) << "band " << i;
        }
    }
}

TEST(BalloonColours, BandsTileTheClientHeightWithoutGapsOrOverlap) {
    for (int h : {1, 7, 92, 199, 200, 201, 457, 1000}) {
        int covered = 0;
        for (int i = 0; i < 200; ++i) {
            ASSERT_EQ(covered, BandTop(i, h)) << "height " << h << " band " << i;
            ASSERT_LE(BandTop(i, h), BandTop(i + 1, h));
            covered = BandTop(i + 1, h);
        }
        EXPECT_EQ(h, covered);
    }
}

TEST(BalloonColours, BevelRingsFromTheBackAndTextColours) {
    const BalloonColour back = MakeColour(255, 255, 225), ink = MakeColour(0, 0, 0);
    EXPECT_EQ(MakeColour(255, 255, 245), LightRingColour(back));
    EXPECT_EQ(MakeColour(170, 170, 150), DarkRingColour(back, ink));
    EXPECT_EQ(MakeColour(170, 170, 170), LightRingColour(MakeColour(0, 1, 2)));
    // Integer divisions each: 2 * (100 / 3) + 50 / 3 = 66 + 16.
    EXPECT_EQ(MakeColour(82, 255, 0),
              DarkRingColour(MakeColour(100, 255, 0), MakeColour(50, 255, 0)));
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
