#include "tools/art/agent/agent_pictures.h"

#include <math.h>

namespace art {

namespace {

const double kPi = 3.14159265358979323846;

struct CoinColours {
    Rgb rim, face, shine, sign, arrow, arrowEdge;
};

// Warm gold and a sync green that hold up on both the classic grey and a dark taskbar.
const CoinColours kTrue = {Hex(0x8A5A00), Hex(0xF4C430), Hex(0xFFE890), Hex(0x6A4000),
                           Hex(0x1E9E3A), Hex(0x0B5A1C)};
const CoinColours kClassic = {Hex(0x000000), Hex(0xFFFF00), Hex(0xFFFFFF), Hex(0x808000),
                              Hex(0x008000), Hex(0x000000)};

// A 5x7 dollar sign: at 16 pixels hand-placed dots read better than any curve.
const std::vector<const char*> kDollar7 = {
    "..#..", ".####", "#.#..", ".###.", "..#.#", "####.", "..#..",
};

Point OnCircle(double cx, double cy, double r, double deg) {
    double a = deg * kPi / 180.0;
    return Point{cx + r * cos(a), cy - r * sin(a)};
}

void DrawCoin(Canvas& c, double cx, double cy, double r, const CoinColours& k, int size) {
    c.FillCircle(cx, cy, r, k.rim);
    double rim = size >= 24 ? r * 0.14 : 1.0;
    c.FillCircle(cx, cy, r - rim, k.face);
    if (size >= 24) {
        // A soft highlight on the upper left gives the coin some body.
        c.Arc(cx, cy, r - rim * 1.9, rim * 0.9, 100, 170, k.shine);
    }
}

void DrawDollar(Canvas& c, double cx, double cy, double h, Rgb colour, int size) {
    if (size < 24) {
        c.Stamp(int(floor(cx)) - 2, int(floor(cy)) - 3, kDollar7, colour);
        return;
    }
    // Two opposite half-loops meeting in the middle, and the bar through them.
    double s = h / 4.0, w = h / 6.5;
    c.Arc(cx, cy - s, s, w, 35, 270, colour);
    c.Arc(cx, cy + s, s, w, -145, 90, colour);
    c.Line(Point{cx, cy - 2 * s - w * 1.3}, Point{cx, cy + 2 * s + w * 1.3}, w * 0.8, colour);
}

// An arc of about three quarters of a turn with its head pointing clockwise; `turnDeg` rotates
// it clockwise.
void DrawTurningArrow(Canvas& c, double cx, double cy, double r, double w, double turnDeg,
                      const CoinColours& k, bool edged) {
    double head = 90.0 - turnDeg; // where the head sits
    double tail = head + 250.0;
    if (edged) c.Arc(cx, cy, r, w + 1.0, head + 8, tail + 0.5, k.arrowEdge);
    c.Arc(cx, cy, r, w, head + 8, tail, k.arrow);
    double a = head * kPi / 180.0;
    Point base = OnCircle(cx, cy, r, head + 12);
    Point radial{cos(a), -sin(a)};
    Point along{sin(a), cos(a)}; // clockwise tangent
    double hw = w * 1.35 + 0.4, len = w * 1.9 + 0.6;
    std::vector<Point> tri = {
        Point{base.x + radial.x * hw, base.y + radial.y * hw},
        Point{base.x - radial.x * hw, base.y - radial.y * hw},
        Point{base.x + along.x * len, base.y + along.y * len},
    };
    if (edged) {
        double g = 0.6;
        std::vector<Point> outline = {
            Point{base.x + radial.x * (hw + g) - along.x * g,
                  base.y + radial.y * (hw + g) - along.y * g},
            Point{base.x - radial.x * (hw + g) - along.x * g,
                  base.y - radial.y * (hw + g) - along.y * g},
            Point{base.x + along.x * (len + g * 1.6), base.y + along.y * (len + g * 1.6)},
        };
        c.FillPolygon(outline, k.arrowEdge);
    }
    c.FillPolygon(tri, k.arrow);
}

} // namespace

Canvas DrawTrayFrame(int frame) {
    frame = ((frame % kTrayFrames) + kTrayFrames) % kTrayFrames;
    Canvas c(16, 16, 4);
    DrawCoin(c, 7.5, 7.5, 5.2, kTrue, 16);
    DrawDollar(c, 7.5, 7.5, 7, kTrue.sign, 16);
    // Frame 27 is a whole turn, the same picture as the resting frame, so the loop is seamless.
    DrawTurningArrow(c, 7.5, 7.5, 6.7, 1.5, frame * (360.0 / (kTrayFrames - 1)), kTrue, false);
    return c;
}

Canvas DrawClassIcon(int size, bool classic) {
    Canvas c(size, size, classic ? 1 : 4);
    const CoinColours& k = classic ? kClassic : kTrue;
    double m = size / 2.0;
    if (size < 24) m = 7.5;
    double coinR = size * 0.33, arrowR = size * 0.42, arrowW = size / 10.0;
    if (size < 24) coinR = 5.2, arrowR = 6.7, arrowW = 1.5;
    DrawCoin(c, m, m, coinR, k, size);
    DrawDollar(c, m, m, coinR * 1.3, k.sign, size);
    DrawTurningArrow(c, m, m, arrowR, arrowW, 0, k, size >= 24 && !classic);
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
    double cx = 8 + shift, cy = 7 + shift, d = 3.2;
    shape.Line(Point{cx - d, cy - d}, Point{cx + d, cy + d}, 1.9, cross);
    shape.Line(Point{cx - d, cy + d}, Point{cx + d, cy - d}, 1.9, cross);

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
