#include "tools/art/common/indexed.h"

#include <algorithm>

namespace art {

namespace {

uint32_t Key(Rgb c) {
    return uint32_t(c.r) << 16 | uint32_t(c.g) << 8 | c.b;
}

struct Box {
    size_t begin, end; // a range of the sorted colour list
};

int Channel(uint32_t key, int ch) {
    return int(key >> (16 - 8 * ch) & 0xFF);
}

// Median cut over the distinct colours: split the box with the widest channel range at its
// median until there are `limit` boxes; each box's mean is one palette colour.
std::vector<Rgb> MedianCut(std::vector<uint32_t> colours, size_t limit) {
    std::vector<Box> boxes = {Box{0, colours.size()}};
    while (boxes.size() < limit) {
        size_t best = boxes.size();
        int bestRange = 0, bestChannel = 0;
        for (size_t i = 0; i < boxes.size(); ++i) {
            if (boxes[i].end - boxes[i].begin < 2) continue;
            for (int ch = 0; ch < 3; ++ch) {
                int lo = 255, hi = 0;
                for (size_t k = boxes[i].begin; k < boxes[i].end; ++k) {
                    int v = Channel(colours[k], ch);
                    lo = v < lo ? v : lo;
                    hi = v > hi ? v : hi;
                }
                if (hi - lo > bestRange) best = i, bestRange = hi - lo, bestChannel = ch;
            }
        }
        if (best == boxes.size()) break; // every box holds one colour
        Box box = boxes[best];
        std::stable_sort(colours.begin() + box.begin, colours.begin() + box.end,
                         [bestChannel](uint32_t x, uint32_t y) {
                             return Channel(x, bestChannel) < Channel(y, bestChannel);
                         });
        size_t mid = box.begin + (box.end - box.begin) / 2;
        boxes[best] = Box{box.begin, mid};
        boxes.push_back(Box{mid, box.end});
    }
    std::vector<Rgb> palette;
    for (const Box& box : boxes) {
        long sum[3] = {0, 0, 0};
        for (size_t k = box.begin; k < box.end; ++k)
            for (int ch = 0; ch < 3; ++ch)
                sum[ch] += Channel(colours[k], ch);
        long n = long(box.end - box.begin);
        palette.push_back(Rgb{uint8_t((sum[0] + n / 2) / n), uint8_t((sum[1] + n / 2) / n),
                              uint8_t((sum[2] + n / 2) / n)});
    }
    return palette;
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

namespace {

// Each pixel as its nearest palette entry; mostly see-through ones go to the mask.
void IndexPixels(const Canvas& canvas, IndexedImage* img) {
    for (int y = 0; y < img->height; ++y)
        for (int x = 0; x < img->width; ++x) {
            Rgba p = canvas.At(x, y);
            size_t i = size_t(y) * img->width + x;
            if (p.a < 128)
                img->transparent[i] = 1;
            else
                img->pixels[i] = uint8_t(NearestIndex(img->palette, p.rgb()));
        }
}

} // namespace

IndexedImage ToIcon16(const Canvas& canvas) {
    IndexedImage img = Blank(canvas, 4);
    img.palette = WindowsPalette16();
    IndexPixels(canvas, &img);
    return img;
}

IndexedImage ToIcon256(const Canvas& canvas) {
    IndexedImage img = Blank(canvas, 8);
    std::vector<uint32_t> colours;
    for (int y = 0; y < img.height; ++y)
        for (int x = 0; x < img.width; ++x) {
            Rgba p = canvas.At(x, y);
            if (p.a >= 128) colours.push_back(Key(p.rgb()));
        }
    std::sort(colours.begin(), colours.end());
    colours.erase(std::unique(colours.begin(), colours.end()), colours.end());
    // Entry 0 stays black (see-through pixels need it), which leaves 255 for the picture.
    if (!colours.empty() && colours[0] == 0) colours.erase(colours.begin());
    std::vector<Rgb> chosen;
    if (colours.size() <= 255) {
        for (uint32_t k : colours)
            chosen.push_back(Rgb{uint8_t(k >> 16), uint8_t(k >> 8), uint8_t(k)});
    } else {
        chosen = MedianCut(colours, 255);
    }
    for (size_t i = 0; i < chosen.size(); ++i)
        img.palette[i + 1] = chosen[i];
    IndexPixels(canvas, &img);
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
