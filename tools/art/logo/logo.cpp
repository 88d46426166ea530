#include "tools/art/logo/logo.h"

#include <math.h>
#include <string.h>

#include <algorithm>

#include "tools/art/logo/gif_encoder.h"

namespace {

const double kPi = 3.14159265358979323846;

struct Rgb {
    double r, g, b;
};

Rgb Mix(Rgb a, Rgb b, double t) {
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

// Edge pixels are blended with the classic dialog face so they sit well on a grey About box.
const Rgb kFace = {212, 208, 200};
const Rgb kGoldLight = {255, 236, 150};
const Rgb kGoldDeep = {222, 158, 30};
const Rgb kRim = {182, 124, 20};
const Rgb kRimLine = {120, 78, 8};
const Rgb kEdge = {150, 100, 14};
const Rgb kSign = {124, 76, 4};
const Rgb kSignLight = {255, 246, 200};
const Rgb kBlue = {44, 108, 208};
const Rgb kBlueDark = {24, 66, 140};
const Rgb kGreen = {46, 158, 62};
const Rgb kGreenDark = {24, 100, 36};
const Rgb kWhite = {255, 255, 255};

const double kCentre = 24.0;
const double kCoinRadius = 14.0;
const double kCoinThickness = 3.0;
const double kRingInner = 17.0;
const double kRingOuter = 20.0;
const double kArcSpan = 280.0; // degrees the arrow's body covers behind its head

struct Scene {
    double coinTurn;  // degrees about the vertical axis, 0 = face on
    double arrowHead; // screen angle of the arrowhead, clockwise from east
    bool updated;     // the arrow has turned green
    bool glint;       // a shine runs along the top of the arrow
    bool sparkle;     // a star twinkles at the coin's upper right
};

struct Sample {
    bool hit;
    Rgb colour;
};

// The sign: a Z with a bar through its middle, in the coin's own unit coordinates.
bool InSign(double u, double v) {
    if (fabs(u) <= 0.42 && v >= -0.54 && v <= -0.36) return true;
    if (fabs(u) <= 0.42 && v >= 0.36 && v <= 0.54) return true;
    if (fabs(u) <= 0.46 && fabs(v) <= 0.065) return true;
    if (fabs(v) > 0.36) return false;
    // The diagonal from the top bar's right end to the bottom bar's left end.
    double along = -u * 0.42 / 0.36;
    return fabs(v - along) * 0.36 / hypot(0.36, 0.42) <= 0.085 && fabs(u) <= 0.42;
}

bool CoinSample(const Scene& s, double x, double y, Rgb* out) {
    double turn = s.coinTurn * kPi / 180.0;
    double c = cos(turn);
    double halfWidth = kCoinRadius * fabs(c);
    double dy = y - kCentre;
    if (fabs(dy) > kCoinRadius) return false;
    double span = sqrt(1.0 - (dy / kCoinRadius) * (dy / kCoinRadius));
    // The face is pushed towards one side by the coin's thickness; the edge fills the rest.
    double shift = kCoinThickness / 2 * sin(turn);
    double faceX = kCentre - shift;
    double faceReach = halfWidth * span;
    bool inFace = halfWidth > 0.01 && fabs(x - faceX) <= faceReach;
    if (!inFace) {
        double lo = std::min(kCentre - shift, kCentre + shift) - faceReach;
        double hi = std::max(kCentre - shift, kCentre + shift) + faceReach;
        if (x < lo || x > hi) return false;
        // Milled edge: fine vertical ridges.
        bool ridge = fmod(y + 100.0, 2.0) < 1.0;
        *out = Mix(kEdge, kRimLine, ridge ? 0.35 : 0.0);
        return true;
    }
    double u = (x - faceX) / halfWidth;
    double v = dy / kCoinRadius;
    double rho = sqrt(u * u + v * v);
    // Light falls from the upper left.
    double light = std::clamp(0.5 - 0.35 * (u * fabs(c) + v), 0.0, 1.0);
    if (rho > 0.88) {
        *out = Mix(kRim, kGoldLight, light * 0.6);
        return true;
    }
    if (rho > 0.80) {
        *out = kRimLine;
        return true;
    }
    Rgb face = Mix(kGoldDeep, kGoldLight, light);
    if (c >= 0) {
        if (InSign(u, v)) {
            *out = kSign;
            return true;
        }
        if (InSign(u + 0.07, v + 0.07)) { // embossed: the sign's lit edge
            *out = Mix(face, kSignLight, 0.7);
            return true;
        }
    } else if (rho > 0.46 && rho < 0.56) {
        *out = Mix(face, kRimLine, 0.55); // the reverse carries a plain ring
        return true;
    }
    *out = face;
    return true;
}

double AngleDegrees(double x, double y) {
    double a = atan2(y - kCentre, x - kCentre) * 180.0 / kPi;
    return a < 0 ? a + 360.0 : a;
}

// How far behind the head a screen angle lies, in [0, 360).
double Behind(double head, double angle) {
    double d = fmod(head - angle, 360.0);
    return d < 0 ? d + 360.0 : d;
}

bool ArrowSample(const Scene& s, double x, double y, Rgb* out) {
    double r = hypot(x - kCentre, y - kCentre);
    double angle = AngleDegrees(x, y);
    Rgb body = s.updated ? kGreen : kBlue;
    Rgb dark = s.updated ? kGreenDark : kBlueDark;

    // Arrowhead: a triangle ahead of the arc's end, pointing clockwise.
    double ahead = Behind(angle, s.arrowHead); // degrees the point lies past the head
    if (ahead < 40.0) {
        double mid = (kRingInner + kRingOuter) / 2;
        double halfBase = (kRingOuter - kRingInner) / 2 + 3.0;
        double length = 7.5; // pixels along the tangent
        double along = ahead * kPi / 180.0 * mid;
        if (along <= length && fabs(r - mid) <= halfBase * (1.0 - along / length)) {
            *out = fabs(r - mid) > halfBase * (1.0 - along / length) - 0.8 ? dark : body;
            return true;
        }
    }
    if (r < kRingInner || r > kRingOuter) return false;
    double back = Behind(s.arrowHead, angle);
    if (back > kArcSpan) return false;
    // The tail fades out, so the arrow reads as moving.
    Rgb colour = Mix(body, kFace, std::clamp((back - kArcSpan * 0.55) / kArcSpan, 0.0, 0.4));
    if (r < kRingInner + 0.7 || r > kRingOuter - 0.7) colour = Mix(colour, dark, 0.7);
    if (s.glint && y < 6.0) {
        double t = std::clamp(1.0 - fabs(x - 25.0) / 10.0, 0.0, 1.0);
        colour = Mix(colour, kWhite, 0.25 + 0.75 * t);
    }
    *out = colour;
    return true;
}

bool SparkleSample(double x, double y, Rgb* out) {
    const double cx = 34.5, cy = 12.5;
    double dx = fabs(x - cx), dy = fabs(y - cy);
    // A four-pointed star: thin rays along the axes and a bright core.
    bool ray = (dx < 0.9 && dy < 6.0 - dx * 4.0) || (dy < 0.9 && dx < 6.0 - dy * 4.0);
    bool core = hypot(dx, dy) < 1.8;
    if (!ray && !core) return false;
    *out = core ? kWhite : Mix(kWhite, kGoldLight, std::min(1.0, hypot(dx, dy) / 6.0));
    return true;
}

Sample Shade(const Scene& s, double x, double y) {
    Rgb c;
    if (s.sparkle && SparkleSample(x, y, &c)) return {true, c};
    if (ArrowSample(s, x, y, &c)) return {true, c};
    if (CoinSample(s, x, y, &c)) return {true, c};
    return {false, kFace};
}

const int kSub = 4; // samples per pixel along each axis

struct Picture {
    bool opaque[kLogoSize * kLogoSize];
    Rgb colour[kLogoSize * kLogoSize];
};

void Render(const Scene& s, Picture* p) {
    for (int py = 0; py < kLogoSize; ++py) {
        for (int px = 0; px < kLogoSize; ++px) {
            int hits = 0;
            Rgb sum = {0, 0, 0};
            for (int j = 0; j < kSub; ++j) {
                for (int i = 0; i < kSub; ++i) {
                    Sample smp = Shade(s, px + (i + 0.5) / kSub, py + (j + 0.5) / kSub);
                    sum.r += smp.colour.r;
                    sum.g += smp.colour.g;
                    sum.b += smp.colour.b;
                    hits += smp.hit;
                }
            }
            const double n = kSub * kSub;
            int at = py * kLogoSize + px;
            p->opaque[at] = hits * 2 >= kSub * kSub;
            p->colour[at] = {sum.r / n, sum.g / n, sum.b / n};
        }
    }
}

struct Colour {
    uint8_t c[3];
};

// Median cut: splits the box with the widest channel range at its median until there are
// `limit` boxes; each box's mean becomes a palette entry. Deterministic for a given input.
std::vector<Colour> MedianCut(std::vector<Colour> colours, size_t limit) {
    struct Box {
        size_t begin, end;
    };
    std::vector<Box> boxes = {{0, colours.size()}};
    auto range = [&](const Box& b, int ch) {
        int lo = 255, hi = 0;
        for (size_t i = b.begin; i < b.end; ++i) {
            lo = std::min<int>(lo, colours[i].c[ch]);
            hi = std::max<int>(hi, colours[i].c[ch]);
        }
        return hi - lo;
    };
    while (boxes.size() < limit) {
        int best = -1, bestChannel = 0, bestRange = 0;
        for (size_t b = 0; b < boxes.size(); ++b) {
            if (boxes[b].end - boxes[b].begin < 2) continue;
            for (int ch = 0; ch < 3; ++ch) {
                int r = range(boxes[b], ch);
                if (r > bestRange) {
                    best = (int)b;
                    bestChannel = ch;
                    bestRange = r;
                }
            }
        }
        if (best < 0) break;
        Box b = boxes[best];
        std::stable_sort(
            colours.begin() + b.begin, colours.begin() + b.end,
            [&](const Colour& x, const Colour& y) { return x.c[bestChannel] < y.c[bestChannel]; });
        size_t mid = b.begin + (b.end - b.begin) / 2;
        boxes[best] = {b.begin, mid};
        boxes.push_back({mid, b.end});
    }
    std::vector<Colour> palette;
    for (const Box& b : boxes) {
        double sum[3] = {0, 0, 0};
        for (size_t i = b.begin; i < b.end; ++i)
            for (int ch = 0; ch < 3; ++ch)
                sum[ch] += colours[i].c[ch];
        double n = (double)(b.end - b.begin);
        Colour mean;
        for (int ch = 0; ch < 3; ++ch)
            mean.c[ch] = (uint8_t)lround(sum[ch] / n);
        palette.push_back(mean);
    }
    return palette;
}

Colour ToColour(Rgb c) {
    return {{(uint8_t)lround(std::clamp(c.r, 0.0, 255.0)),
             (uint8_t)lround(std::clamp(c.g, 0.0, 255.0)),
             (uint8_t)lround(std::clamp(c.b, 0.0, 255.0))}};
}

int Nearest(const std::vector<Colour>& palette, Colour c) {
    int best = 0, bestDistance = 1 << 30;
    for (size_t i = 0; i < palette.size(); ++i) {
        int d = 0;
        for (int ch = 0; ch < 3; ++ch) {
            int diff = palette[i].c[ch] - c.c[ch];
            d += diff * diff;
        }
        if (d < bestDistance) {
            best = (int)i;
            bestDistance = d;
        }
    }
    return best;
}

struct FramePlan {
    Scene scene;
    int left, top, width, height;
    int delay, disposal;
};

} // namespace

std::vector<uint8_t> BuildLogoGif() {
    // The arrowhead rests just above east; while spinning it turns a full circle in six steps.
    const double rest = -15.0;
    std::vector<FramePlan> plan;
    for (int k = 0; k < 6; ++k) {
        Scene s = {30.0 + 60.0 * k, rest + 60.0 * (k - 6), false, false, false};
        plan.push_back({s, 0, 0, kLogoSize, kLogoSize, 0, 2});
    }
    plan.push_back({{0, rest, false, false, false}, 0, 0, kLogoSize, kLogoSize, 50, 1});
    plan.push_back({{0, rest, true, false, false}, 0, 0, kLogoSize, kLogoSize, 50, 1});
    // The glint only lights arrow pixels right of column 15, which the last frame redraws.
    plan.push_back({{0, rest, true, true, false}, 11, 0, 25, 6, 0, 2});
    plan.push_back({{0, rest, true, false, true}, 15, 0, 29, kLogoSize, 200, 1});

    std::vector<Picture> pictures(plan.size());
    std::vector<Colour> used;
    for (size_t f = 0; f < plan.size(); ++f) {
        Render(plan[f].scene, &pictures[f]);
        for (int y = plan[f].top; y < plan[f].top + plan[f].height; ++y)
            for (int x = plan[f].left; x < plan[f].left + plan[f].width; ++x)
                if (pictures[f].opaque[y * kLogoSize + x])
                    used.push_back(ToColour(pictures[f].colour[y * kLogoSize + x]));
    }
    std::vector<Colour> palette = MedianCut(used, kLogoTransparent);

    uint8_t table[768];
    memset(table, 0, sizeof table);
    for (size_t i = 0; i < palette.size(); ++i)
        memcpy(table + 3 * i, palette[i].c, 3);
    Colour face = ToColour(kFace);
    memcpy(table + 3 * kLogoTransparent, face.c, 3);

    std::vector<EncodedFrame> frames;
    for (size_t f = 0; f < plan.size(); ++f) {
        const FramePlan& p = plan[f];
        EncodedFrame e = {p.left, p.top, p.width, p.height, p.delay, p.disposal, {}};
        for (int y = p.top; y < p.top + p.height; ++y) {
            for (int x = p.left; x < p.left + p.width; ++x) {
                int at = y * kLogoSize + x;
                e.pixels.push_back(pictures[f].opaque[at]
                                       ? (uint8_t)Nearest(palette, ToColour(pictures[f].colour[at]))
                                       : (uint8_t)kLogoTransparent);
            }
        }
        frames.push_back(e);
    }
    return EncodeGif(kLogoSize, kLogoSize, table, kLogoTransparent, frames);
}
