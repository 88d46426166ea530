#include "tools/art/common/indexed.h"

#include <algorithm>

namespace art {

namespace {

uint32_t Key(Rgb c) {
    return uint32_t(c.r) << 16 | uint32_t(c.g) << 8 | c.b;
}

// Keeps the top `bits` of each channel, refilling the low bits so white stays white.
Rgb Reduce(Rgb c, int bits) {
    auto r = [bits](uint8_t v) {
        int hi = v >> (8 - bits);
        int out = 0;
        for (int shift = 8 - bits; shift > -bits; shift -= bits)
            out |= shift >= 0 ? hi << shift : hi >> -shift;
        return uint8_t(out);
    };
    return Rgb{r(c.r), r(c.g), r(c.b)};
}

IndexedImage Blank(const Canvas& canvas, int bpp) {
    IndexedImage img;
    img.width = canvas.width();
    img.height = canvas.height();
    img.bpp = bpp;
    img.palette.assign(size_t(1) << bpp, Rgb{0, 0, 0});
    img.pixels.assign(size_t(img.width) * img.height, 0);
    img.transparent.assign(img.pixels.size(), 0);
    return img;
}

} // namespace

const std::vector<Rgb>& WindowsPalette16() {
    static const std::vector<Rgb> palette = {
        Hex(0x000000), Hex(0x800000), Hex(0x008000), Hex(0x808000), Hex(0x000080), Hex(0x800080),
        Hex(0x008080), Hex(0xC0C0C0), Hex(0x808080), Hex(0xFF0000), Hex(0x00FF00), Hex(0xFFFF00),
        Hex(0x0000FF), Hex(0xFF00FF), Hex(0x00FFFF), Hex(0xFFFFFF)};
    return palette;
}

int NearestIndex(const std::vector<Rgb>& palette, Rgb c, int skip) {
    int best = -1;
    long bestDist = 0;
    for (size_t i = 0; i < palette.size(); ++i) {
        if (int(i) == skip) continue;
        long dr = c.r - palette[i].r, dg = c.g - palette[i].g, db = c.b - palette[i].b;
        long d = 3 * dr * dr + 4 * dg * dg + 2 * db * db;
        if (best < 0 || d < bestDist) best = int(i), bestDist = d;
    }
    return best < 0 ? 0 : best;
}

IndexedImage ToIcon16(const Canvas& canvas) {
    IndexedImage img = Blank(canvas, 4);
    img.palette = WindowsPalette16();
    for (int y = 0; y < img.height; ++y)
        for (int x = 0; x < img.width; ++x) {
            Rgba p = canvas.At(x, y);
            size_t i = size_t(y) * img.width + x;
            if (p.a < 128)
                img.transparent[i] = 1;
            else
                img.pixels[i] = uint8_t(NearestIndex(img.palette, p.rgb()));
        }
    return img;
}

IndexedImage ToIcon256(const Canvas& canvas) {
    IndexedImage img = Blank(canvas, 8);
    // Exact colours when they fit; otherwise drop low bits until they do. Entry 0 stays black.
    int bits = 8;
    std::vector<uint32_t> colours;
    for (;; --bits) {
        colours.clear();
        for (int y = 0; y < img.height; ++y)
            for (int x = 0; x < img.width; ++x) {
                Rgba p = canvas.At(x, y);
                if (p.a >= 128) colours.push_back(Key(Reduce(p.rgb(), bits)));
            }
        std::sort(colours.begin(), colours.end());
        colours.erase(std::unique(colours.begin(), colours.end()), colours.end());
        if (!colours.empty() && colours[0] == 0) colours.erase(colours.begin());
        if (colours.size() <= 255 || bits == 1) break;
    }
    for (size_t i = 0; i < colours.size(); ++i)
        img.palette[i + 1] =
            Rgb{uint8_t(colours[i] >> 16), uint8_t(colours[i] >> 8), uint8_t(colours[i])};
    for (int y = 0; y < img.height; ++y)
        for (int x = 0; x < img.width; ++x) {
            Rgba p = canvas.At(x, y);
            size_t i = size_t(y) * img.width + x;
            if (p.a < 128) {
                img.transparent[i] = 1;
                continue;
            }
            uint32_t k = Key(Reduce(p.rgb(), bits));
            auto it = std::lower_bound(colours.begin(), colours.end(), k);
            img.pixels[i] = (it != colours.end() && *it == k) ? uint8_t(1 + (it - colours.begin()))
                                                              : 0; // black
        }
    return img;
}

Canvas Flatten(const Canvas& canvas, Rgb background) {
    Canvas out(canvas.width(), canvas.height(), canvas.samples());
    out.Clear(background, 255);
    for (int y = 0; y < canvas.height(); ++y)
        for (int x = 0; x < canvas.width(); ++x) {
            Rgba p = canvas.At(x, y);
            out.Blend(x, y, p.rgb(), p.a);
        }
    return out;
}

IndexedImage ToBitmap16(const Canvas& canvas, int backgroundIndex) {
    IndexedImage img = Blank(canvas, 4);
    img.palette = WindowsPalette16();
    if (backgroundIndex < 0 || backgroundIndex > 15) backgroundIndex = 0;
    Rgb bg = img.palette[backgroundIndex];
    for (int y = 0; y < img.height; ++y)
        for (int x = 0; x < img.width; ++x) {
            Rgba p = canvas.At(x, y);
            size_t i = size_t(y) * img.width + x;
            if (p.a < 128) {
                img.pixels[i] = uint8_t(backgroundIndex);
                continue;
            }
            Canvas one(1, 1, 1);
            one.Set(0, 0, bg);
            one.Blend(0, 0, p.rgb(), p.a);
            img.pixels[i] = uint8_t(NearestIndex(img.palette, one.At(0, 0).rgb(), backgroundIndex));
        }
    return img;
}

} // namespace art
