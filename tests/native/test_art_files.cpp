// The icon and bitmap writers, read back with a decoder of the test's own.
#include <gtest/gtest.h>

#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "tools/art/common/image_files.h"

using namespace art;

namespace {

uint32_t U16(const Bytes& b, size_t at) {
    return b.at(at) | b.at(at + 1) << 8;
}
uint32_t U32(const Bytes& b, size_t at) {
    return U16(b, at) | U16(b, at + 2) << 16;
}

// A patterned image: indices vary along both axes so row order, nibble order and padding show.
IndexedImage Pattern(int w, int h, int bpp) {
    IndexedImage img;
    img.width = w, img.height = h, img.bpp = bpp;
    img.palette.assign(size_t(1) << bpp, Rgb{0, 0, 0});
    for (size_t i = 1; i < img.palette.size(); ++i)
        img.palette[i] = Rgb{uint8_t(i * 7), uint8_t(255 - i), uint8_t(i * 3)};
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            img.pixels.push_back(uint8_t((x * 3 + y * 5 + 1) % (1 << bpp)));
            img.transparent.push_back((x + 2 * y) % 7 == 0);
        }
    return img;
}

// Reads pixel (x, y) of a bottom-up DIB whose bits start at `bits`.
int DibIndex(const Bytes& b, size_t bits, int w, int h, int bpp, int x, int y) {
    size_t row = size_t((w * bpp + 31) / 32 * 4);
    size_t at = bits + row * size_t(h - 1 - y);
    if (bpp == 8) return b.at(at + x);
    if (bpp == 4) return x % 2 ? b.at(at + x / 2) & 0x0F : b.at(at + x / 2) >> 4;
    return b.at(at + x / 8) >> (7 - x % 8) & 1;
}

void ExpectIcoImage(const Bytes& ico, int n, const IndexedImage& img) {
    SCOPED_TRACE("image " + std::to_string(n));
    size_t e = 6 + 16 * size_t(n);
    EXPECT_EQ(ico.at(e), img.width % 256);
    EXPECT_EQ(ico.at(e + 1), img.height % 256);
    EXPECT_EQ(ico.at(e + 2), img.bpp == 4 ? 16 : 0);
    EXPECT_EQ(U16(ico, e + 4), 1u);
    EXPECT_EQ(U16(ico, e + 6), uint32_t(img.bpp));
    uint32_t size = U32(ico, e + 8), offset = U32(ico, e + 12);
    ASSERT_LE(size_t(offset) + size, ico.size());
    size_t colours = size_t(1) << img.bpp;
    size_t xorBytes = size_t((img.width * img.bpp + 31) / 32 * 4) * img.height;
    size_t andBytes = size_t((img.width + 31) / 32 * 4) * img.height;
    EXPECT_EQ(size, 40 + 4 * colours + xorBytes + andBytes);
    EXPECT_EQ(U32(ico, offset), 40u);
    EXPECT_EQ(int(U32(ico, offset + 4)), img.width);
    EXPECT_EQ(int(U32(ico, offset + 8)), 2 * img.height); // colour part and mask together
    EXPECT_EQ(U16(ico, offset + 14), uint32_t(img.bpp));
    EXPECT_EQ(U32(ico, offset + 16), 0u);
    EXPECT_EQ(U32(ico, offset + 20), xorBytes + andBytes);
    size_t pal = offset + 40;
    for (size_t i = 0; i < colours; ++i) {
        EXPECT_EQ(ico.at(pal + 4 * i), img.palette[i].b);
        EXPECT_EQ(ico.at(pal + 4 * i + 2), img.palette[i].r);
    }
    size_t xorAt = pal + 4 * colours, andAt = xorAt + xorBytes;
    for (int y = 0; y < img.height; ++y)
        for (int x = 0; x < img.width; ++x) {
            size_t i = size_t(y) * img.width + x;
            int mask = DibIndex(ico, andAt, img.width, img.height, 1, x, y);
            int index = DibIndex(ico, xorAt, img.width, img.height, img.bpp, x, y);
            ASSERT_EQ(mask, img.transparent[i]) << x << "," << y;
            // See-through pixels must be black in the colour part, or they tint the screen.
            ASSERT_EQ(index, img.transparent[i] ? 0 : img.pixels[i]) << x << "," << y;
        }
}

} // namespace

TEST(ArtIco, SeveralImagesLaidOutBackToBack) {
    // 20 and 24 wide: 4-bit rows of 10 and 12 bytes, mask rows padded from 3 bytes to 4.
    std::vector<IndexedImage> images = {Pattern(32, 32, 4), Pattern(20, 20, 4), Pattern(24, 24, 8),
                                        Pattern(16, 16, 8)};
    Bytes ico = EncodeIco(images);
    ASSERT_FALSE(ico.empty());
    EXPECT_EQ(U16(ico, 0), 0u);
    EXPECT_EQ(U16(ico, 2), 1u);
    EXPECT_EQ(U16(ico, 4), 4u);
    size_t expectedOffset = 6 + 16 * images.size();
    for (size_t n = 0; n < images.size(); ++n) {
        EXPECT_EQ(U32(ico, 6 + 16 * n + 12), expectedOffset) << "image " << n;
        expectedOffset += U32(ico, 6 + 16 * n + 8);
        ExpectIcoImage(ico, int(n), images[n]);
    }
    EXPECT_EQ(expectedOffset, ico.size());
}

TEST(ArtIco, RefusesWhatTheFormatCannotHold) {
    IndexedImage noBlack = Pattern(16, 16, 4);
    noBlack.palette[0] = Rgb{1, 2, 3};
    EXPECT_TRUE(EncodeIco({noBlack}).empty()); // see-through pixels, no black to put under them
    for (size_t i = 0; i < noBlack.transparent.size(); ++i)
        noBlack.transparent[i] = 0;
    EXPECT_FALSE(EncodeIco({noBlack}).empty()); // fully opaque needs no black

    IndexedImage depth = Pattern(16, 16, 4);
    depth.bpp = 24;
    IndexedImage big = Pattern(16, 16, 8);
    big.width = 300;
    IndexedImage shortPixels = Pattern(16, 16, 8);
    shortPixels.pixels.pop_back();
    IndexedImage shortPalette = Pattern(16, 16, 8);
    shortPalette.palette.resize(16);
    for (const IndexedImage& bad : {depth, big, shortPixels, shortPalette})
        EXPECT_TRUE(EncodeIco({Pattern(16, 16, 4), bad}).empty());
    EXPECT_TRUE(EncodeIco({}).empty());
}

TEST(ArtBmp, PalettisedBitmapsReadBack) {
    for (IndexedImage img : {Pattern(48, 24, 4), Pattern(13, 5, 4), Pattern(13, 5, 8)}) {
        SCOPED_TRACE(std::to_string(img.width) + "x" + std::to_string(img.bpp));
        Bytes bmp = EncodeBmp(img);
        ASSERT_GT(bmp.size(), 54u);
        size_t colours = size_t(1) << img.bpp;
        EXPECT_EQ(bmp[0], 'B');
        EXPECT_EQ(bmp[1], 'M');
        EXPECT_EQ(U32(bmp, 2), bmp.size());
        EXPECT_EQ(U32(bmp, 10), 14 + 40 + 4 * colours);
        EXPECT_EQ(U32(bmp, 14), 40u);
        EXPECT_EQ(int(U32(bmp, 22)), img.height); // positive: bottom-up
        EXPECT_EQ(U16(bmp, 28), uint32_t(img.bpp));
        EXPECT_EQ(U32(bmp, 46), colours);
        EXPECT_EQ(U32(bmp, 34), bmp.size() - U32(bmp, 10));
        for (int y = 0; y < img.height; ++y)
            for (int x = 0; x < img.width; ++x)
                ASSERT_EQ(DibIndex(bmp, U32(bmp, 10), img.width, img.height, img.bpp, x, y),
                          img.pixels[size_t(y) * img.width + x])
                    << x << "," << y;
    }
}

TEST(ArtBmp, TrueColourKeepsExactColours) {
    Canvas c(13, 5, 1);
    c.Set(0, 0, Rgb{255, 0, 255});
    c.Set(12, 4, Rgb{1, 2, 3});
    c.Set(5, 2, Rgb{200, 100, 50}, 10); // alpha does not reach the file
    Bytes bmp = EncodeBmp24(c);
    ASSERT_EQ(bmp.size(), 54u + 40 * 5); // 39 bytes a row, padded to 40
    EXPECT_EQ(U32(bmp, 2), bmp.size());
    EXPECT_EQ(U16(bmp, 28), 24u);
    auto pixel = [&](int x, int y) {
        size_t at = 54 + 40 * size_t(4 - y) + 3 * x;
        return Rgb{bmp[at + 2], bmp[at + 1], bmp[at]};
    };
    EXPECT_EQ(pixel(0, 0), (Rgb{255, 0, 255}));
    EXPECT_EQ(pixel(12, 4), (Rgb{1, 2, 3}));
    EXPECT_EQ(pixel(5, 2), (Rgb{200, 100, 50}));
    EXPECT_TRUE(EncodeBmp24(Canvas(0, 5)).empty());
}

TEST(ArtFiles, WritesWholeFilesOrNothing) {
    char dir[] = "/tmp/zlv-art-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    std::string path = std::string(dir) + "/a.bmp";
    EXPECT_TRUE(WriteFileAtomically(path, Bytes{1, 2, 3}));
    EXPECT_TRUE(WriteFileAtomically(path, Bytes{4, 5})); // replaces
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 2);

    // Nothing to write, or a folder in the way: refused, and the folder is left as it was.
    EXPECT_FALSE(WriteFileAtomically(path, Bytes()));
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 2);
    std::string sub = std::string(dir) + "/sub";
    ASSERT_EQ(mkdir(sub.c_str(), 0700), 0);
    EXPECT_FALSE(WriteFileAtomically(sub, Bytes{1}));
    EXPECT_NE(stat((sub + ".part").c_str(), &st), 0);
    EXPECT_FALSE(WriteFileAtomically(std::string(dir) + "/missing/x.ico", Bytes{1}));

    unlink(path.c_str());
    rmdir(sub.c_str());
    EXPECT_EQ(rmdir(dir), 0);
}
