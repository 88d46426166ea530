#include <gtest/gtest.h>

#include <stdlib.h>

#include "agent/gif/gif_scanner.h"
#include "tests/native/test_gif_builder.h"
#include "tools/art/logo/logo.h"

namespace {

// One frame of 8-bit indices wrapped into a whole GIF.
std::vector<uint8_t> WrapPixels(int width, int height, const std::vector<uint8_t>& pixels) {
    uint8_t palette[768];
    for (int i = 0; i < 768; ++i)
        palette[i] = (uint8_t)i;
    EncodedFrame f = {0, 0, width, height, 0, 1, pixels};
    return EncodeGif(width, height, palette, 255, {f});
}

const std::vector<uint8_t>& Logo() {
    static const std::vector<uint8_t> logo = BuildLogoGif();
    return logo;
}

} // namespace

// The encoder is checked against giflib's decoder, including inputs long enough to fill the
// code table and force clear codes.
TEST(GifEncoder, GiflibDecodesWhatWeEncode) {
    struct Case {
        int width, height;
        int kind; // 0 constant, 1 noise, 2 few colours, 3 ramps
    };
    const Case cases[] = {{1, 1, 0},   {1, 1, 1},     {48, 48, 0},  {48, 48, 2},
                          {3, 700, 1}, {200, 150, 1}, {256, 64, 3}, {300, 300, 2}};
    srand(7);
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << " kind " << c.kind);
        std::vector<uint8_t> pixels((size_t)c.width * c.height);
        for (size_t i = 0; i < pixels.size(); ++i) {
            switch (c.kind) {
            case 0:
                pixels[i] = 9;
                break;
            case 1:
                pixels[i] = (uint8_t)(rand() & 0xFF);
                break;
            case 2:
                pixels[i] = (uint8_t)((rand() % 5) * 50);
                break;
            default:
                pixels[i] = (uint8_t)((i % c.width) ^ (i / c.width));
                break;
            }
        }
        std::vector<uint8_t> gif = WrapPixels(c.width, c.height, pixels);
        GiflibReader reader(gif);
        ASSERT_TRUE(reader.ok());
        ASSERT_EQ(1, reader.gif->ImageCount);
        const SavedImage& image = reader.gif->SavedImages[0];
        ASSERT_EQ(c.width, image.ImageDesc.Width);
        std::vector<uint8_t> decoded(image.RasterBits, image.RasterBits + pixels.size());
        EXPECT_EQ(pixels, decoded);
    }
}

TEST(GifLogo, TenFramesWithTheirPlacementsAndDelays) {
    const std::vector<uint8_t>& logo = Logo();
    ASSERT_GT(logo.size(), 13u + 768u);
    EXPECT_EQ(0, memcmp(logo.data(), "GIF89a", 6));
    EXPECT_EQ(0xF7, logo[10]); // a 256-entry global colour table

    GifScanner s;
    int count;
    ASSERT_EQ(GifPathAnimation, ChooseGifPath(&s, logo.data(), (uint32_t)logo.size(), &count));
    EXPECT_EQ(48, s.width);
    EXPECT_EQ(48, s.height);
    EXPECT_EQ(768, s.colourTableSize);
    ASSERT_EQ(Application, s.CurrentBlockKind());
    EXPECT_EQ(0, memcmp(logo.data() + s.cursor + 3, "NETSCAPE2.0", 11));

    const int delays[10] = {0, 0, 0, 0, 0, 0, 50, 50, 0, 200};
    std::vector<GifFrameRange> frames;
    GifFrameRange f;
    while (s.ExtractFrame(&f))
        frames.push_back(f);
    ASSERT_EQ(10u, frames.size());
    int wholeArea = 0;
    for (size_t i = 0; i < frames.size(); ++i) {
        SCOPED_TRACE(i);
        const GifFrameRange& g = frames[i];
        EXPECT_EQ(delays[i], g.delay);
        EXPECT_TRUE(g.disposal == 1 || g.disposal == 2);
        // Every frame has its own graphic control with transparent index 255.
        ASSERT_EQ(GraphicControl, (logo[g.start + 1] == 0xF9 ? GraphicControl : Unrecognised));
        EXPECT_EQ(1, logo[g.start + 3] & 1);
        EXPECT_EQ(255, logo[g.start + 6]);
        if (g.left == 0 && g.top == 0 && g.width == 48 && g.height == 48) ++wholeArea;
    }
    EXPECT_EQ(8, wholeArea);
    EXPECT_EQ(11, frames[8].left);
    EXPECT_EQ(25, frames[8].width);
    EXPECT_EQ(6, frames[8].height);
    EXPECT_EQ(15, frames[9].left);
    EXPECT_EQ(29, frames[9].width);
    EXPECT_EQ(48, frames[9].height);

    // Reproducible, and readable by an independent decoder frame by frame.
    EXPECT_EQ(logo, BuildLogoGif());
    GiflibReader reader(logo);
    ASSERT_TRUE(reader.ok());
    EXPECT_EQ(10, reader.gif->ImageCount);
}

// The glint frame is removed to the background after its delay and only the last frame paints
// over it: the glint must not leave holes where the last frame does not reach.
TEST(GifLogo, GlintLeavesNothingTheLastFrameDoesNotRepaint) {
    const std::vector<uint8_t>& logo = Logo();
    GiflibReader reader(logo);
    ASSERT_TRUE(reader.ok());
    ASSERT_EQ(10, reader.gif->ImageCount);
    const SavedImage& before = reader.gif->SavedImages[7];
    const SavedImage& glint = reader.gif->SavedImages[8];
    const SavedImage& last = reader.gif->SavedImages[9];
    int glintLeft = glint.ImageDesc.Left, lastLeft = last.ImageDesc.Left;
    for (int y = glint.ImageDesc.Top; y < glint.ImageDesc.Top + glint.ImageDesc.Height; ++y) {
        for (int x = glintLeft; x < lastLeft; ++x) {
            SCOPED_TRACE(testing::Message() << x << "," << y);
            EXPECT_EQ(255, before.RasterBits[y * 48 + x]);
        }
    }
}
