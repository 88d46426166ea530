#include "tools/art/agent/agent_pictures.h"

#include "tools/art/common/coin.h"

#include <math.h>

namespace art {

namespace {

const double kPi = 3.14159265358979323846;

// A sync green that holds up on both the classic grey and a dark taskbar.
const Rgb kArrow = Hex(0x1E9E3A), kArrowEdge = Hex(0x0B5A1C);
const Rgb kClassicArrow = Hex(0x008000), kClassicArrowEdge = Hex(0x000000);

Point OnCircle(double cx, double cy, double r, double deg) {
    double a = deg * kPi / 180.0;
    return Point{cx + r * cos(a), cy - r * sin(a)};
}

// About two thirds of a circle with its head pointing clockwise, under a darker edge of
// `edgeWidth`; `turnDeg` turns it clockwise from its resting place at the upper right, where the
// icon's corner leaves the head room.
void DrawTurningArrow(Canvas& c, double cx, double cy, double r, double w, double turnDeg,
                      Rgb colour, Rgb edge, double edgeWidth) {
    const double head = 45.0 - turnDeg, span = 235.0;
    const double halfWidth = w / 2 + 2.3 > w * 1.5 ? w / 2 + 2.3 : w * 1.5;
    const double len = w * 2.1 + 0.8;
    // The head's base sits a little behind its point on the circle.
    const double baseDeg = head + len * 0.5 / r * 180.0 / kPi;
    const double a = baseDeg * kPi / 180.0;
    const Point base = OnCircle(cx, cy, r, baseDeg);
    const Point radial{cos(a), -sin(a)};
    const Point along{sin(a), cos(a)}; // clockwise tangent
    for (int pass = edgeWidth > 0 ? 0 : 1; pass < 2; ++pass) {
        double g = pass == 0 ? edgeWidth : 0;
        Rgb col = pass == 0 ? edge : colour;
        c.Arc(cx, cy, r, w + 2 * g, baseDeg - 2, head + span + g * 20, col);
        double side = halfWidth + g;
        c.FillPolygon(
            {Point{base.x + radial.x * side - along.x * g, base.y + radial.y * side - along.y * g},
             Point{base.x - radial.x * side - along.x * g, base.y - radial.y * side - along.y * g},
             Point{base.x + along.x * (len + g * 1.8), base.y + along.y * (len + g * 1.8)}},
            col);
    }
}

// The 16-pixel mark: a coin with the arrow turned `turnDeg` clockwise from its resting place.
Canvas DrawMark16(double turnDeg, bool classic) {
    Canvas c(16, 16, classic ? 1 : 4);
    const CoinColours& k = classic ? kClassicCoin : kGoldCoin;
    DrawCoin(c, 7.5, 7.5, 4.6, k);
    DrawDollar(c, 7.5, 7.5, 7, k.sign);
    DrawTurningArrow(c, 7.5, 7.5, 6.2, 1.5, turnDeg, classic ? kClassicArrow : kArrow,
                     classic ? kClassicArrowEdge : kArrowEdge, classic ? 0 : 0.45);
    return c;
}

} // namespace

Canvas DrawTrayFrame(int frame) {
    frame = ((frame % kTrayFrames) + kTrayFrames) % kTrayFrames;
    // Frame 27 is a whole turn: the resting picture again, so the loop back to 1 is seamless.
    int step = frame % (kTrayFrames - 1);
    return DrawMark16(step * (360.0 / (kTrayFrames - 1)), false);
}

// The tray's resting picture, drawn for the size at hand.
Canvas DrawClassIcon(int size, bool classic) {
    if (size < 24) return DrawMark16(0, classic);
    Canvas c(size, size, classic ? 1 : 4);
    const CoinColours& k = classic ? kClassicCoin : kGoldCoin;
    double m = size / 2.0;
    DrawCoin(c, m, m, size * 0.29, k);
    DrawDollar(c, m, m, size * 0.36, k.sign);
    DrawTurningArrow(c, m, m, size * 0.39, size * 0.09, 0, classic ? kClassicArrow : kArrow,
                     classic ? kClassicArrowEdge : kArrowEdge, classic ? 0 : size / 40.0);
    return c;
}

Canvas DrawCloseBox(CloseState state) {
    Canvas shape(kCloseWidth, kCloseHeight, 4);
    double x0 = 1, y0 = 0, x1 = 15, y1 = 14;
    double shift = state == ClosePressed ? 1 : 0;
    Rgb cross = Hex(0x5A4A30);
    if (state != CloseNormal) {
        shape.FillRoundRect(x0, y0, x1, y1, 3, state == CloseHot ? Hex(0x8C1A10) : Hex(0x5A0C06));
        shape.FillRoundRect(x0 + 1, y0 + 1, x1 - 1, y1 - 1, 2,
                            state == CloseHot ? Hex(0xD8442E) : Hex(0xA82418));
        cross = Hex(0xFFFFFF);
    }
    double cx = 8 + shift, cy = 7 + shift, d = 3.0;
    shape.Line(Point{cx - d, cy - d}, Point{cx + d, cy + d}, 1.7, cross);
    shape.Line(Point{cx - d, cy + d}, Point{cx + d, cy - d}, 1.7, cross);

    // Edges are blended over the balloon's usual title-row colour; the rest becomes the key.
    Canvas out(kCloseWidth, kCloseHeight, 1);
    const Rgb balloon = Hex(0xFFF4CC);
    for (int y = 0; y < kCloseHeight; ++y)
        for (int x = 0; x < kCloseWidth; ++x) {
            Rgba p = shape.At(x, y);
            if (p.a < 48) {
                out.Set(x, y, kCloseKey);
                continue;
            }
            out.Set(x, y, balloon);
            out.Blend(x, y, p.rgb(), p.a);
            if (out.At(x, y).rgb() == kCloseKey) out.Set(x, y, Hex(0xFE00FE));
        }
    out.Set(0, 0, kCloseKey);
    return out;
}

} // namespace art
