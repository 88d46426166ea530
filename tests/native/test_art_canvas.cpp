// Drawing and colour reduction behind the generated icons and bitmaps.
#include <gtest/gtest.h>

#include <math.h>

#include <set>

#include "tools/art/common/indexed.h"

using namespace art;

namespace {

double Coverage(const Canvas& c) {
    double sum = 0;
    for (int y = 0; y < c.height(); ++y)
        for (int x = 0; x < c.width(); ++x)
            sum += c.At(x, y).a / 255.0;
    return sum;
}

int CountAlpha(const Canvas& c, int lo, int hi) {
    int n = 0;
    for (int y = 0; y < c.height(); ++y)
        for (int x = 0; x < c.width(); ++x)
            n += c.At(x, y).a >= lo && c.At(x, y).a <= hi;
    return n;
}

const Rgb kRed = Hex(0xFF0000);

} // namespace

TEST(ArtCanvas, ShapesCoverTheirArea) {
    Canvas smooth(40, 40, 4);
    smooth.FillCircle(20, 20, 10, kRed);
    EXPECT_NEAR(Coverage(smooth), M_PI * 100, M_PI * 100 * 0.02);
    EXPECT_GT(CountAlpha(smooth, 1, 254), 0); // edges are blended

    Canvas hard(40, 40, 1);
    hard.FillCircle(20, 20, 10, kRed);
    EXPECT_NEAR(Coverage(hard), M_PI * 100, M_PI * 100 * 0.05);
    EXPECT_EQ(CountAlpha(hard, 1, 254), 0); // 16-colour pictures get no half pixels

    Canvas rect(10, 10, 1);
    rect.FillRect(2, 3, 5, 9, kRed);
    EXPECT_EQ(Coverage(rect), 18);
    EXPECT_EQ(rect.At(2, 3).a, 255);
    EXPECT_EQ(rect.At(5, 3).a, 0); // right and bottom edges are exclusive
    EXPECT_EQ(rect.At(2, 9).a, 0);

    Canvas ring(40, 40, 4);
    ring.Ring(20, 20, 10, 2, kRed);
    EXPECT_NEAR(Coverage(ring), 2 * M_PI * 10 * 2, 4);
    EXPECT_EQ(ring.At(20, 20).a, 0);

    // Non-zero winding: a pentagram's centre, wound twice, is filled.
    std::vector<Point> star;
    for (int i = 0; i < 5; ++i) {
        double a = (90 + i * 144) * M_PI / 180;
        star.push_back(Point{20 + 15 * cos(a), 20 - 15 * sin(a)});
    }
    Canvas s(40, 40, 1);
    s.FillPolygon(star, kRed);
    EXPECT_EQ(s.At(20, 20).a, 255);
    EXPECT_EQ(s.At(2, 2).a, 0);
}

TEST(ArtCanvas, ArcAnglesRunCounterClockwiseFromEast) {
    Canvas c(40, 40, 4);
    c.Arc(20, 20, 10, 2, 0, 90, kRed); // the upper right quarter, as on screen
    EXPECT_GT(c.At(27, 12).a, 0);
    EXPECT_EQ(c.At(12, 12).a, 0);
    EXPECT_EQ(c.At(27, 27).a, 0);
    EXPECT_EQ(c.At(12, 27).a, 0);

    Canvas wrap(40, 40, 4);
    wrap.Arc(20, 20, 10, 2, -45, 45, kRed); // across east
    EXPECT_GT(wrap.At(29, 20).a, 0);
    EXPECT_EQ(wrap.At(10, 20).a, 0);
}

TEST(ArtCanvas, DrawingOffTheCanvasIsHarmless) {
    Canvas c(16, 16, 4);
    c.FillCircle(-100, -100, 5, kRed);
    c.FillRect(1e300, 1e300, 2e300, 2e300, kRed);
    c.FillRect(-2e300, -2e300, -1e300, -1e300, kRed);
    c.Line(Point{NAN, 0}, Point{5, NAN}, 2, kRed);
    c.FillPolygon({Point{0, 0}, Point{1, 1}}, kRed); // too few points
    c.Stamp(14, 14, {"####", "####"}, kRed);
    EXPECT_EQ(Coverage(c), 4); // only the stamp's 2x2 corner lands
    EXPECT_EQ(c.At(-1, 0).a, 0);
    EXPECT_EQ(c.At(16, 0).a, 0);

    Canvas half(16, 16, 4);
    half.FillCircle(0, 8, 4, kRed); // partly outside: clipped, not wrapped
    EXPECT_NEAR(Coverage(half), M_PI * 16 / 2, 1.5);
    EXPECT_EQ(half.At(15, 8).a, 0);
}

TEST(ArtCanvas, BlendingKeepsStraightColours) {
    Canvas c(2, 1, 1);
    c.Blend(0, 0, kRed, 100); // over nothing: the colour stays pure, only alpha is partial
    EXPECT_EQ(c.At(0, 0).rgb(), kRed);
    EXPECT_EQ(c.At(0, 0).a, 100);
    c.Set(1, 0, Hex(0x0000FF));
    c.Blend(1, 0, kRed, 128);
    Rgba mixed = c.At(1, 0);
    EXPECT_EQ(mixed.a, 255);
    EXPECT_NEAR(mixed.r, 128, 1);
    EXPECT_NEAR(mixed.b, 127, 1);
}

TEST(ArtIndexed, IconColoursAndMask) {
    Canvas c(16, 16, 4);
    c.FillCircle(8, 8, 6, Hex(0xF4C430));
    c.FillRect(0, 0, 3, 3, Hex(0x000000));
    c.Blend(15, 15, kRed, 127); // less than half: see-through
    IndexedImage img = ToIcon256(c);
    EXPECT_EQ(img.palette[0], (Rgb{0, 0, 0}));
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) {
            size_t i = size_t(y) * 16 + x;
            Rgba p = c.At(x, y);
            ASSERT_EQ(img.transparent[i], p.a < 128) << x << "," << y;
            // At most 255 colours on a 16x16 picture: every opaque pixel keeps its exact colour.
            if (!img.transparent[i]) {
                ASSERT_EQ(img.palette[img.pixels[i]], p.rgb());
            }
        }

    IndexedImage classic = ToIcon16(c);
    EXPECT_EQ(classic.palette, WindowsPalette16());
    EXPECT_EQ(classic.pixels[0], 0);           // black
    EXPECT_EQ(classic.pixels[8 * 16 + 8], 11); // gold is nearest to yellow
    EXPECT_EQ(classic.transparent[15 * 16 + 15], 1);
}

TEST(ArtIndexed, ManyColoursStillFitAndStayClose) {
    Canvas c(32, 32, 1);
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x)
            c.Set(x, y, Rgb{uint8_t(x * 8), uint8_t(y * 8), 90});
    IndexedImage img = ToIcon256(c);
    std::set<int> used(img.pixels.begin(), img.pixels.end());
    EXPECT_GT(used.size(), 200u); // reduced, not collapsed
    EXPECT_EQ(img.palette[0], (Rgb{0, 0, 0}));
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x) {
            Rgb want = c.At(x, y).rgb(), got = img.palette[img.pixels[size_t(y) * 32 + x]];
            ASSERT_LE(abs(want.r - got.r) + abs(want.g - got.g) + abs(want.b - got.b), 24)
                << x << "," << y;
        }
}

TEST(ArtIndexed, BitmapBackgroundEntryIsReservedForTheBackground) {
    Canvas c(8, 4, 1);
    c.FillRect(0, 0, 4, 4, Hex(0xC0C0C0)); // drawn in the background's own colour
    c.FillRect(4, 0, 8, 2, Hex(0xC8C8C8));
    IndexedImage img = ToBitmap16(c, kSilverIndex);
    EXPECT_EQ(img.palette[kSilverIndex], Hex(0xC0C0C0));
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 8; ++x) {
            bool drawn = x < 4 || y < 2;
            EXPECT_EQ(img.pixels[size_t(y) * 8 + x] == kSilverIndex, !drawn) << x << "," << y;
        }
    EXPECT_EQ(NearestIndex(WindowsPalette16(), Hex(0xC0C0C0), kSilverIndex), 15); // white
}
