#include "tools/art/common/coin.h"

#include <math.h>

namespace art {

const CoinColours kGoldCoin = {Hex(0x8A5A00), Hex(0xF4C430), Hex(0xFFE890), Hex(0x6A4000)};
const CoinColours kClassicCoin = {Hex(0x000000), Hex(0xFFFF00), Hex(0xFFFFFF), Hex(0x808000)};

namespace {

const std::vector<const char*> kDollar7 = {
    "..#..", ".####", "#....", ".###.", "....#", "####.", "..#..",
};

} // namespace

void DrawCoin(Canvas& c, double cx, double cy, double r, const CoinColours& k) {
    bool large = r >= 6.5;
    double rim = large ? r * 0.14 : 1.0;
    c.FillCircle(cx, cy, r, k.rim);
    c.FillCircle(cx, cy, r - rim, k.face);
    if (large) c.Arc(cx, cy, r - rim * 1.9, rim * 0.9, 100, 170, k.shine);
}

void DrawDollar(Canvas& c, double cx, double cy, double h, Rgb colour) {
    if (h < 9) {
        c.Stamp(int(floor(cx)) - 2, int(floor(cy)) - 3, kDollar7, colour);
        return;
    }
    // Two opposite half-loops meeting in the middle, and the bar through them.
    double s = h / 4.0, w = h / 6.5;
    c.Arc(cx, cy - s, s, w, 35, 270, colour);
    c.Arc(cx, cy + s, s, w, -145, 90, colour);
    c.Line(Point{cx, cy - 2 * s - w * 1.3}, Point{cx, cy + 2 * s + w * 1.3}, w * 0.8, colour);
}

} // namespace art
