#include "tools/art/common/canvas.h"

#include <math.h>

namespace art {

namespace {

const double kPi = 3.14159265358979323846;

double SegmentDistanceSq(double px, double py, Point a, Point b) {
    double dx = b.x - a.x, dy = b.y - a.y;
    double len = dx * dx + dy * dy;
    double t = len > 0 ? ((px - a.x) * dx + (py - a.y) * dy) / len : 0;
    if (t < 0) t = 0;
    if (t > 1) t = 1;
    double ex = a.x + t * dx - px, ey = a.y + t * dy - py;
    return ex * ex + ey * ey;
}

// Normalises to [0, 360).
double Wrap(double deg) {
    deg = fmod(deg, 360.0);
    return deg < 0 ? deg + 360.0 : deg;
}

} // namespace

Canvas::Canvas(int width, int height, int samples)
    : width_(width > 0 ? width : 0), height_(height > 0 ? height : 0),
      samples_(samples > 0 ? samples : 1), pixels_(size_t(width_) * height_, Rgba{0, 0, 0, 0}) {}

Rgba Canvas::At(int x, int y) const {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) return Rgba{0, 0, 0, 0};
    return pixels_[size_t(y) * width_ + x];
}

void Canvas::Set(int x, int y, Rgb c, uint8_t alpha) {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
    pixels_[size_t(y) * width_ + x] = Rgba{c.r, c.g, c.b, alpha};
}

void Canvas::Blend(int x, int y, Rgb c, int alpha) {
    if (x < 0 || y < 0 || x >= width_ || y >= height_ || alpha <= 0) return;
    if (alpha > 255) alpha = 255;
    Rgba& d = pixels_[size_t(y) * width_ + x];
    // Straight-alpha "over": the colour stays meaningful where the result is half covered.
    int keep = d.a * (255 - alpha) / 255;
    int out = alpha + keep;
    auto mix = [&](int s, int t) { return uint8_t((s * alpha + t * keep + out / 2) / out); };
    d = Rgba{mix(c.r, d.r), mix(c.g, d.g), mix(c.b, d.b), uint8_t(out)};
}

void Canvas::Clear(Rgb c, uint8_t alpha) {
    for (Rgba& p : pixels_)
        p = Rgba{c.r, c.g, c.b, alpha};
}

void Canvas::FillRect(double x0, double y0, double x1, double y1, Rgb c) {
    FillWhere(x0, y0, x1, y1, c,
              [=](double x, double y) { return x >= x0 && x < x1 && y >= y0 && y < y1; });
}

void Canvas::FrameRect(double x0, double y0, double x1, double y1, double w, Rgb c) {
    FillWhere(x0, y0, x1, y1, c, [=](double x, double y) {
        bool outer = x >= x0 && x < x1 && y >= y0 && y < y1;
        bool inner = x >= x0 + w && x < x1 - w && y >= y0 + w && y < y1 - w;
        return outer && !inner;
    });
}

void Canvas::FillRoundRect(double x0, double y0, double x1, double y1, double r, Rgb c) {
    FillWhere(x0, y0, x1, y1, c, [=](double x, double y) {
        if (x < x0 || x >= x1 || y < y0 || y >= y1) return false;
        double cx = x < x0 + r ? x0 + r : (x > x1 - r ? x1 - r : x);
        double cy = y < y0 + r ? y0 + r : (y > y1 - r ? y1 - r : y);
        return (x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r;
    });
}

void Canvas::FillCircle(double cx, double cy, double r, Rgb c) {
    FillEllipse(cx, cy, r, r, c);
}

void Canvas::FillEllipse(double cx, double cy, double rx, double ry, Rgb c) {
    if (rx <= 0 || ry <= 0) return;
    FillWhere(cx - rx, cy - ry, cx + rx, cy + ry, c, [=](double x, double y) {
        double dx = (x - cx) / rx, dy = (y - cy) / ry;
        return dx * dx + dy * dy <= 1.0;
    });
}

void Canvas::Ring(double cx, double cy, double r, double w, Rgb c) {
    double ro = r + w / 2, ri = r - w / 2;
    FillWhere(cx - ro, cy - ro, cx + ro, cy + ro, c, [=](double x, double y) {
        double d = (x - cx) * (x - cx) + (y - cy) * (y - cy);
        return d <= ro * ro && (ri <= 0 || d >= ri * ri);
    });
}

void Canvas::Arc(double cx, double cy, double r, double w, double fromDeg, double toDeg, Rgb c) {
    double ro = r + w / 2, ri = r - w / 2;
    double span = toDeg - fromDeg;
    if (span >= 360.0) return Ring(cx, cy, r, w, c);
    if (span <= 0) return;
    double start = Wrap(fromDeg);
    FillWhere(cx - ro, cy - ro, cx + ro, cy + ro, c, [=](double x, double y) {
        double dx = x - cx, dy = y - cy;
        double d = dx * dx + dy * dy;
        if (d > ro * ro || (ri > 0 && d < ri * ri)) return false;
        double a = Wrap(atan2(-dy, dx) * 180.0 / kPi);
        return Wrap(a - start) <= span;
    });
}

void Canvas::Line(Point a, Point b, double w, Rgb c) {
    double h = w / 2;
    double x0 = (a.x < b.x ? a.x : b.x) - h, x1 = (a.x > b.x ? a.x : b.x) + h;
    double y0 = (a.y < b.y ? a.y : b.y) - h, y1 = (a.y > b.y ? a.y : b.y) + h;
    FillWhere(x0, y0, x1, y1, c,
              [=](double x, double y) { return SegmentDistanceSq(x, y, a, b) <= h * h; });
}

void Canvas::Polyline(const std::vector<Point>& pts, double w, Rgb c) {
    if (pts.empty()) return;
    double h = w / 2;
    double x0 = pts[0].x, x1 = x0, y0 = pts[0].y, y1 = y0;
    for (const Point& p : pts) {
        x0 = p.x < x0 ? p.x : x0, x1 = p.x > x1 ? p.x : x1;
        y0 = p.y < y0 ? p.y : y0, y1 = p.y > y1 ? p.y : y1;
    }
    // One pass over the union, so joints are not painted twice.
    FillWhere(x0 - h, y0 - h, x1 + h, y1 + h, c, [&](double x, double y) {
        if (pts.size() == 1) return SegmentDistanceSq(x, y, pts[0], pts[0]) <= h * h;
        for (size_t i = 1; i < pts.size(); ++i)
            if (SegmentDistanceSq(x, y, pts[i - 1], pts[i]) <= h * h) return true;
        return false;
    });
}

void Canvas::FillPolygon(const std::vector<Point>& pts, Rgb c) {
    if (pts.size() < 3) return;
    double x0 = pts[0].x, x1 = x0, y0 = pts[0].y, y1 = y0;
    for (const Point& p : pts) {
        x0 = p.x < x0 ? p.x : x0, x1 = p.x > x1 ? p.x : x1;
        y0 = p.y < y0 ? p.y : y0, y1 = p.y > y1 ? p.y : y1;
    }
    FillWhere(x0, y0, x1, y1, c, [&](double x, double y) {
        int winding = 0;
        for (size_t i = 0, j = pts.size() - 1; i < pts.size(); j = i++) {
            const Point& a = pts[j];
            const Point& b = pts[i];
            double side = (b.x - a.x) * (y - a.y) - (x - a.x) * (b.y - a.y);
            if (a.y <= y) {
                if (b.y > y && side > 0) ++winding;
            } else if (b.y <= y && side < 0) {
                --winding;
            }
        }
        return winding != 0;
    });
}

void Canvas::Stamp(int x, int y, const std::vector<const char*>& rows, Rgb c) {
    for (size_t r = 0; r < rows.size(); ++r)
        for (int i = 0; rows[r][i]; ++i)
            if (rows[r][i] != '.' && rows[r][i] != ' ') Set(x + i, y + int(r), c);
}

} // namespace art
