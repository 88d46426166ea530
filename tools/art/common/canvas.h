// A small RGBA pixel canvas with anti-aliased shape filling, for drawing icons and bitmaps.
#pragma once

#include <stdint.h>

#include <vector>

namespace art {

struct Rgb {
    uint8_t r, g, b;
    bool operator==(const Rgb& o) const { return r == o.r && g == o.g && b == o.b; }
    bool operator!=(const Rgb& o) const { return !(*this == o); }
};

// 0xRRGGBB, as colours are usually written down.
constexpr Rgb Hex(uint32_t rgb) {
    return Rgb{uint8_t(rgb >> 16), uint8_t(rgb >> 8), uint8_t(rgb)};
}

struct Rgba {
    uint8_t r, g, b, a;
    Rgb rgb() const { return Rgb{r, g, b}; }
};

struct Point {
    double x, y;
};

// Pixel (x, y) covers [x, x+1) x [y, y+1); shapes are in the same continuous coordinates.
class Canvas {
  public:
    // samples: sub-samples per pixel side; 1 gives hard edges (for 16-colour pictures).
    Canvas(int width, int height, int samples = 4);

    int width() const { return width_; }
    int height() const { return height_; }
    int samples() const { return samples_; }

    Rgba At(int x, int y) const;                        // outside: fully transparent
    void Set(int x, int y, Rgb c, uint8_t alpha = 255); // replaces; outside is ignored
    // Paints c over (x, y) with the given opacity (0..255); outside is ignored.
    void Blend(int x, int y, Rgb c, int alpha);
    void Clear(Rgb c, uint8_t alpha);

    void FillRect(double x0, double y0, double x1, double y1, Rgb c);
    void FrameRect(double x0, double y0, double x1, double y1, double width, Rgb c);
    void FillRoundRect(double x0, double y0, double x1, double y1, double radius, Rgb c);
    void FillCircle(double cx, double cy, double r, Rgb c);
    void FillEllipse(double cx, double cy, double rx, double ry, Rgb c);
    void Ring(double cx, double cy, double r, double width, Rgb c);
    // Angles in degrees, 0 = east, counter-clockwise (y grows downwards on screen).
    void Arc(double cx, double cy, double r, double width, double fromDeg, double toDeg, Rgb c);
    void Line(Point a, Point b, double width, Rgb c); // round ends
    void Polyline(const std::vector<Point>& pts, double width, Rgb c);
    void FillPolygon(const std::vector<Point>& pts, Rgb c); // non-zero winding

    // Stamps a pixel pattern: rows of text, '#' (or any mark other than '.' and ' ')
    // is painted in c; used where hand-placed pixels read better than geometry.
    void Stamp(int x, int y, const std::vector<const char*>& rows, Rgb c);

    // Fills wherever inside(x, y) holds for the sub-sample points, within the box.
    template <class Inside>
    void FillWhere(double x0, double y0, double x1, double y1, Rgb c, Inside inside);

  private:
    int width_, height_, samples_;
    std::vector<Rgba> pixels_;
};

template <class Inside>
void Canvas::FillWhere(double x0, double y0, double x1, double y1, Rgb c, Inside inside) {
    // Clamped before conversion, so far-away shapes cannot overflow an int.
    auto cell = [](double v, int limit) { return !(v > 0) ? 0 : v >= limit ? limit : int(v); };
    int ix0 = cell(x0, width_), iy0 = cell(y0, height_);
    int ix1 = cell(x1 + 1, width_), iy1 = cell(y1 + 1, height_);
    const int n = samples_;
    for (int y = iy0; y < iy1; ++y) {
        for (int x = ix0; x < ix1; ++x) {
            int hits = 0;
            for (int sy = 0; sy < n; ++sy)
                for (int sx = 0; sx < n; ++sx)
                    if (inside(x + (sx + 0.5) / n, y + (sy + 0.5) / n)) ++hits;
            if (hits) Blend(x, y, c, (hits * 255 + n * n / 2) / (n * n));
        }
    }
}

} // namespace art
