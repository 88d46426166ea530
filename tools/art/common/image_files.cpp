#include "tools/art/common/image_files.h"

#include <stdio.h>

namespace art {

namespace {

void Put16(Bytes& b, uint32_t v) {
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}

void Put32(Bytes& b, uint32_t v) {
    Put16(b, v & 0xFFFF);
    Put16(b, v >> 16);
}

void Patch32(Bytes& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + i] = uint8_t(v >> (8 * i));
}

// DIB rows are padded to whole 32-bit words.
uint32_t RowBytes(int width, int bpp) {
    return uint32_t((width * bpp + 31) / 32 * 4);
}

bool Holdable(const IndexedImage& img, int maxSide) {
    if (img.bpp != 4 && img.bpp != 8) return false;
    if (img.width <= 0 || img.height <= 0 || img.width > maxSide || img.height > maxSide)
        return false;
    size_t n = size_t(img.width) * img.height;
    return img.palette.size() == (size_t(1) << img.bpp) && img.pixels.size() == n &&
           img.transparent.size() == n;
}

void PutInfoHeader(Bytes& b, int width, int height, int bpp, uint32_t imageBytes, int colours) {
    Put32(b, 40);
    Put32(b, uint32_t(width));
    Put32(b, uint32_t(height));
    Put16(b, 1); // planes
    Put16(b, uint32_t(bpp));
    Put32(b, 0); // BI_RGB
    Put32(b, imageBytes);
    Put32(b, 0); // resolution: none claimed
    Put32(b, 0);
    Put32(b, uint32_t(colours));
    Put32(b, 0);
}

void PutPalette(Bytes& b, const std::vector<Rgb>& palette) {
    for (const Rgb& c : palette) {
        b.push_back(c.b);
        b.push_back(c.g);
        b.push_back(c.r);
        b.push_back(0);
    }
}

// Colour indices, bottom row first.
void PutIndexRows(Bytes& b, const IndexedImage& img) {
    uint32_t row = RowBytes(img.width, img.bpp);
    for (int y = img.height - 1; y >= 0; --y) {
        size_t start = b.size();
        b.resize(start + row, 0);
        const uint8_t* src = &img.pixels[size_t(y) * img.width];
        for (int x = 0; x < img.width; ++x) {
            uint8_t v = uint8_t(img.bpp == 8 ? src[x] : src[x] & 0x0F);
            if (img.bpp == 8)
                b[start + x] = v;
            else
                b[start + x / 2] |= uint8_t(x % 2 ? v : v << 4);
        }
    }
}

void PutMaskRows(Bytes& b, const IndexedImage& img) {
    uint32_t row = RowBytes(img.width, 1);
    for (int y = img.height - 1; y >= 0; --y) {
        size_t start = b.size();
        b.resize(start + row, 0);
        for (int x = 0; x < img.width; ++x)
            if (img.transparent[size_t(y) * img.width + x])
                b[start + x / 8] |= uint8_t(0x80 >> (x % 8));
    }
}

} // namespace

Bytes EncodeIco(const std::vector<IndexedImage>& images) {
    if (images.empty() || images.size() > 0xFFFF) return Bytes();
    for (const IndexedImage& img : images)
        if (!Holdable(img, 256)) return Bytes();
    Bytes b;
    Put16(b, 0);
    Put16(b, 1); // icon
    Put16(b, uint32_t(images.size()));
    size_t directory = b.size();
    b.resize(directory + 16 * images.size(), 0);
    for (size_t n = 0; n < images.size(); ++n) {
        const IndexedImage& img = images[n];
        // Under a transparent mask bit the colour part is XORed onto the screen, so it must be
        // black there; an image with see-through pixels but no black entry cannot be written.
        int black = -1;
        for (size_t i = 0; i < img.palette.size() && black < 0; ++i)
            if (img.palette[i] == Rgb{0, 0, 0}) black = int(i);
        IndexedImage clean = img;
        for (size_t i = 0; i < clean.pixels.size(); ++i) {
            if (!clean.transparent[i]) continue;
            if (black < 0) return Bytes();
            clean.pixels[i] = uint8_t(black);
        }
        uint32_t colourBytes = RowBytes(img.width, img.bpp) * uint32_t(img.height);
        uint32_t maskBytes = RowBytes(img.width, 1) * uint32_t(img.height);
        size_t offset = b.size();
        PutInfoHeader(b, img.width, img.height * 2, img.bpp, colourBytes + maskBytes, 0);
        PutPalette(b, clean.palette);
        PutIndexRows(b, clean);
        PutMaskRows(b, clean);
        uint8_t* e = &b[directory + 16 * n];
        e[0] = uint8_t(img.width == 256 ? 0 : img.width);
        e[1] = uint8_t(img.height == 256 ? 0 : img.height);
        e[2] = uint8_t(img.bpp == 4 ? 16 : 0); // 0 stands for 256 colours
        e[3] = 0;
        e[4] = 1; // planes
        e[5] = 0;
        e[6] = uint8_t(img.bpp);
        e[7] = 0;
        Patch32(b, directory + 16 * n + 8, uint32_t(b.size() - offset));
        Patch32(b, directory + 16 * n + 12, uint32_t(offset));
    }
    return b;
}

Bytes EncodeBmp(const IndexedImage& img) {
    if (!Holdable(img, 0x7FFF)) return Bytes();
    uint32_t imageBytes = RowBytes(img.width, img.bpp) * uint32_t(img.height);
    uint32_t bits = 14 + 40 + 4 * uint32_t(img.palette.size());
    Bytes b;
    b.push_back('B');
    b.push_back('M');
    Put32(b, bits + imageBytes);
    Put32(b, 0);
    Put32(b, bits);
    PutInfoHeader(b, img.width, img.height, img.bpp, imageBytes, int(img.palette.size()));
    PutPalette(b, img.palette);
    PutIndexRows(b, img);
    return b;
}

Bytes EncodeBmp24(const Canvas& canvas) {
    if (canvas.width() <= 0 || canvas.height() <= 0 || canvas.width() > 0x7FFF ||
        canvas.height() > 0x7FFF)
        return Bytes();
    uint32_t row = RowBytes(canvas.width(), 24);
    uint32_t imageBytes = row * uint32_t(canvas.height());
    Bytes b;
    b.push_back('B');
    b.push_back('M');
    Put32(b, 54 + imageBytes);
    Put32(b, 0);
    Put32(b, 54);
    PutInfoHeader(b, canvas.width(), canvas.height(), 24, imageBytes, 0);
    for (int y = canvas.height() - 1; y >= 0; --y) {
        size_t start = b.size();
        b.resize(start + row, 0);
        for (int x = 0; x < canvas.width(); ++x) {
            Rgba p = canvas.At(x, y);
            b[start + 3 * x] = p.b;
            b[start + 3 * x + 1] = p.g;
            b[start + 3 * x + 2] = p.r;
        }
    }
    return b;
}

bool WriteFileAtomically(const std::string& path, const Bytes& bytes) {
    if (path.empty() || bytes.empty()) return false;
    std::string temp = path + ".part";
    FILE* f = fopen(temp.c_str(), "wb");
    if (!f) return false;
    bool ok = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    ok = fclose(f) == 0 && ok;
    if (ok) ok = rename(temp.c_str(), path.c_str()) == 0;
    if (!ok) remove(temp.c_str());
    return ok;
}

} // namespace art
