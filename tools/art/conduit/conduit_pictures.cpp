#include "tools/art/conduit/conduit_pictures.h"

#include "tools/art/common/coin.h"

namespace art {

namespace {

// Classic colours only: the action bitmaps are 16-colour and the light grey is reserved.
const Rgb kBlack = Hex(0x000000), kGrey = Hex(0x808080), kWhite = Hex(0xFFFFFF);
const Rgb kNavy = Hex(0x000080), kTeal = Hex(0x008080), kGreen = Hex(0x008000);
const Rgb kRed = Hex(0xFF0000);

void DrawHandheld(Canvas& c, int x, int y) {
    c.FillRoundRect(x, y, x + 13, y + 22, 2, kBlack);
    c.FillRoundRect(x + 1, y + 1, x + 12, y + 21, 1, kGrey);
    c.FillRect(x + 2, y + 2, x + 11, y + 13, kBlack);
    c.FillRect(x + 3, y + 3, x + 10, y + 12, kWhite);
    for (int i = 0; i < 3; ++i)
        c.FillRect(x + 4, y + 5 + 2 * i, x + (i == 1 ? 7 : 9), y + 6 + 2 * i, kTeal);
    // Two application buttons either side of the scroll rocker.
    c.FillRect(x + 2, y + 16, x + 4, y + 18, kBlack);
    c.FillRect(x + 5, y + 15, x + 8, y + 19, kBlack);
    c.FillRect(x + 9, y + 16, x + 11, y + 18, kBlack);
}

void DrawDesktop(Canvas& c, int x, int y) {
    c.FillRect(x, y, x + 16, y + 15, kBlack);
    c.FillRect(x + 1, y + 1, x + 15, y + 14, kGrey);
    c.FillRect(x + 2, y + 2, x + 14, y + 12, kBlack);
    c.FillRect(x + 3, y + 3, x + 13, y + 11, kNavy);
    c.FillRect(x + 4, y + 4, x + 7, y + 5, kTeal);
    c.FillRect(x + 4, y + 6, x + 10, y + 7, kTeal);
    c.FillRect(x + 6, y + 15, x + 10, y + 17, kBlack);
    c.FillRect(x + 2, y + 17, x + 14, y + 20, kBlack);
    c.FillRect(x + 3, y + 18, x + 13, y + 19, kGrey);
}

// A solid arrow along row y (its two middle rows are y-1 and y), from x0 towards x1.
void DrawArrow(Canvas& c, int x0, int x1, int y, Rgb fill) {
    bool right = x1 > x0;
    int neck = right ? x1 - 4 : x1 + 4;
    int s0 = right ? x0 : neck, s1 = right ? neck : x0;
    c.FillRect(s0, y - 1, s1, y + 1, fill);
    for (int i = 0; i < 4; ++i) {
        int col = right ? neck + i : neck - 1 - i;
        c.FillRect(col, y - 4 + i, col + 1, y + 4 - i, fill);
    }
}

} // namespace

Canvas DrawAction(Action action) {
    Canvas c(kActionWidth, kActionHeight, 1);
    DrawHandheld(c, 2, 1);
    DrawDesktop(c, 31, 2);
    switch (action) {
    case ActionBothWays:
        DrawArrow(c, 17, 29, 8, kGreen);
        DrawArrow(c, 29, 17, 16, kGreen);
        break;
    case ActionToHandheld:
        DrawArrow(c, 29, 17, 12, kGreen);
        break;
    case ActionToDesktop:
        DrawArrow(c, 17, 29, 12, kGreen);
        break;
    case ActionPause:
        c.FillRect(18, 6, 22, 18, kBlack);
        c.FillRect(19, 7, 21, 17, kRed);
        c.FillRect(24, 6, 28, 18, kBlack);
        c.FillRect(25, 7, 27, 17, kRed);
        break;
    }
    return c;
}

Canvas DrawConduitIcon(int size, bool classic) {
    Canvas c(size, size, classic ? 1 : 4);
    Rgb edge = classic ? kBlack : Hex(0x262C34);
    Rgb body = classic ? kGrey : Hex(0x5C6878);
    Rgb frame = classic ? kBlack : Hex(0x1C1C1C);
    Rgb lcd = classic ? kWhite : Hex(0xC4D4A8);
    Rgb button = classic ? kBlack : Hex(0x20262C);
    const CoinColours& coin = classic ? kClassicCoin : kGoldCoin;
    if (size >= 32) {
        // Laid out around x = 16.5 so the coin's pattern sits centred on a pixel.
        c.FillRoundRect(6, 1, 27, 31, 4, edge);
        c.FillRoundRect(7, 2, 26, 30, 3, body);
        c.FillRect(9, 4, 24, 21, frame);
        c.FillRect(10, 5, 23, 20, lcd);
        DrawCoin(c, 16.5, 12.5, 5.6, coin);
        DrawDollar(c, 16.5, 12.5, 7, classic ? kBlack : coin.sign);
        c.FillRect(9, 24, 12, 27, button);
        c.FillRect(14, 23, 19, 28, button);
        c.FillRect(21, 24, 24, 27, button);
    } else {
        c.FillRoundRect(2, 0, 15, 16, 2, edge);
        c.FillRoundRect(3, 1, 14, 15, 1.5, body);
        c.FillRect(4, 2, 13, 11, frame);
        c.FillRect(5, 3, 12, 10, lcd);
        DrawDollar(c, 8.5, 6.5, 7, classic ? kGreen : Hex(0x24401C));
        c.FillRect(4, 12, 6, 14, button);
        c.FillRect(7, 12, 10, 14, button);
        c.FillRect(11, 12, 13, 14, button);
    }
    return c;
}

} // namespace art
