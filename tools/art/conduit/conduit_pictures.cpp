#include "tools/art/conduit/conduit_pictures.h"

namespace art {

namespace {

// Classic colours only: the action bitmaps are 16-colour and the light grey is reserved.
const Rgb kBlack = Hex(0x000000), kGrey = Hex(0x808080), kWhite = Hex(0xFFFFFF);
const Rgb kNavy = Hex(0x000080), kTeal = Hex(0x008080), kGreen = Hex(0x008000);
const Rgb kMaroon = Hex(0x800000), kRed = Hex(0xFF0000);

const std::vector<const char*> kDollar7 = {
    "..#..", ".####", "#.#..", ".###.", "..#.#", "####.", "..#..",
};

void DrawHandheld(Canvas& c, int x, int y) {
    c.FillRoundRect(x, y, x + 13, y + 22, 2, kBlack);
    c.FillRoundRect(x + 1, y + 1, x + 12, y + 21, 1, kGrey);
    c.FillRect(x + 2, y + 2, x + 11, y + 13, kBlack);
    c.FillRect(x + 3, y + 3, x + 10, y + 12, kWhite);
    for (int i = 0; i < 3; ++i) c.FillRect(x + 4, y + 5 + 2 * i, x + 9 - (i == 1 ? 2 : 0), y + 6 + 2 * i, kTeal);
    for (int i = 0; i < 4; ++i) c.FillRect(x + 2 + 2.5 * i, y + 16, x + 4 + 2.5 * i, y + 18, kBlack);
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
    int tip = x1, neck = right ? x1 - 4 : x1 + 4;
    int s0 = right ? x0 : neck, s1 = right ? neck : x0;
    c.FillRect(s0, y - 1, s1, y + 1, fill);
    for (int i = 0; i < 4; ++i) {
        int col = right ? neck + i : neck - 1 - i;
        c.FillRect(col, y - 4 + i, col + 1, y + 4 - i, fill);
    }
    (void)tip;
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
        (void)kMaroon;
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
    Rgb sign = classic ? kGreen : Hex(0x24401C);
    Rgb button = classic ? kBlack : Hex(0x20262C);
    if (size >= 32) {
        c.FillRoundRect(6, 1, 26, 31, 4, edge);
        c.FillRoundRect(7, 2, 25, 30, 3, body);
        c.FillRect(9, 4, 23, 20, frame);
        c.FillRect(10, 5, 22, 19, lcd);
        Rgb rim = classic ? kBlack : Hex(0x8A5A00);
        Rgb face = classic ? Hex(0xFFFF00) : Hex(0xF4C430);
        c.FillCircle(16, 12, 5.6, rim);
        c.FillCircle(16, 12, 4.6, face);
        c.Stamp(14, 9, kDollar7, classic ? kBlack : Hex(0x6A4000));
        for (int i = 0; i < 4; ++i) c.FillCircle(10.5 + 3.65 * i, 25, 1.4, button);
    } else {
        c.FillRoundRect(2, 0, 14, 16, 2, edge);
        c.FillRoundRect(3, 1, 13, 15, 1.5, body);
        c.FillRect(4, 2, 12, 11, frame);
        c.FillRect(5, 3, 11, 10, lcd);
        c.Stamp(5, 3, kDollar7, sign);
        for (int i = 0; i < 3; ++i) c.FillRect(4 + 3 * i, 12, 6 + 3 * i, 14, button);
    }
    return c;
}

} // namespace art
