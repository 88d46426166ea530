// The splitter against giflib on GIFs that ImageMagick writes: the same frames, placements,
// delays and disposals, and every cut-out frame a GIF of its own with the same pixels.
#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include "agent/gif/gif_scanner.h"
#include "tests/native/test_gif_builder.h"

namespace {

const char* const kConvert = "/usr/bin/convert";

struct Sample {
    const char* name;
    const char* arguments; // between convert and the output file
};

const Sample kSamples[] = {
    {"sizes_disposals", "-loop 0 -dispose None -delay 7 -size 30x20 xc:red "
                        "-dispose Background -delay 13 -page 30x20+5+4 -size 10x8 xc:blue "
                        "-dispose Previous -delay 200 -page 30x20+12+9 -size 6x5 xc:green"},
    {"local_tables", "-delay 10 -size 40x30 gradient:red-blue gradient:yellow-green "
                     "-seed 3 plasma:"},
    {"interlaced", "-interlace GIF -delay 3 -size 33x17 gradient:white-black "
                   "-page 33x17+4+2 -size 20x9 gradient:orange-purple"},
    {"comments", "-delay 25 -size 12x12 xc:gray xc:navy xc:gold -set comment 'rates %p'"},
    {"large_frames", "-loop 3 -delay 4 -seed 9 -size 300x200 plasma: -rotate 90 "
                     "-page 300x300+0+0 -size 120x260 -seed 5 plasma:"},
    {"still", "-size 16x16 gradient:blue-white"},
    {"version87", "-size 9x7 gradient:red-lime"},
};

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::vector<uint8_t> bytes;
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return bytes;
    uint8_t chunk[4096];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, f)) > 0)
        bytes.insert(bytes.end(), chunk, chunk + n);
    fclose(f);
    return bytes;
}

// The graphic control block that giflib keeps with an image, if any.
bool FindControl(const SavedImage& image, GraphicsControlBlock* gcb) {
    for (int i = 0; i < image.ExtensionBlockCount; ++i) {
        const ExtensionBlock& e = image.ExtensionBlocks[i];
        if (e.Function == GRAPHICS_EXT_FUNC_CODE)
            return DGifExtensionToGCB(e.ByteCount, e.Bytes, gcb) == GIF_OK;
    }
    return false;
}

bool HasExtension(const SavedImage& image, int function) {
    for (int i = 0; i < image.ExtensionBlockCount; ++i)
        if (image.ExtensionBlocks[i].Function == function) return true;
    return false;
}

class GifOracle : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        char pattern[] = "/tmp/zlv-gif-oracle-XXXXXX";
        folder = mkdtemp(pattern);
    }
    static void TearDownTestSuite() {
        std::string command = "rm -rf '" + folder + "'";
        if (system(command.c_str()) != 0) fprintf(stderr, "could not remove %s\n", folder.c_str());
    }
    static std::string Make(const Sample& s) {
        std::string out = folder + "/" + s.name + ".gif";
        bool old = strcmp(s.name, "version87") == 0;
        std::string command =
            std::string(kConvert) + " " + s.arguments + " " + (old ? "gif87:" : "") + out + " 2>&1";
        return system(command.c_str()) == 0 ? out : std::string();
    }
    static std::string folder;
};

std::string GifOracle::folder;

} // namespace

TEST_F(GifOracle, FramesMatchGiflib) {
    ASSERT_EQ(0, access(kConvert, X_OK)) << "ImageMagick is missing: ./zlv setup";
    bool sawInterlace = false, sawLocalTable = false, sawComment = false, sawApplication = false;
    bool sawDisposal[4] = {};
    bool sawNoControl = false;
    for (const Sample& sample : kSamples) {
        SCOPED_TRACE(sample.name);
        std::string path = Make(sample);
        ASSERT_FALSE(path.empty());
        std::vector<uint8_t> bytes = ReadFile(path);
        ASSERT_FALSE(bytes.empty());
        GiflibReader reader(bytes);
        ASSERT_TRUE(reader.ok());
        GifFileType* g = reader.gif;

        GifScanner s;
        int count;
        GifPath route = ChooseGifPath(&s, bytes.data(), (uint32_t)bytes.size(), &count);
        ASSERT_EQ(g->ImageCount, count);
        EXPECT_EQ(count == 1 ? GifPathOneFrame : GifPathAnimation, route);
        EXPECT_EQ(g->SWidth, s.width);
        EXPECT_EQ(g->SHeight, s.height);

        GifFrameRange f;
        for (int i = 0; i < g->ImageCount; ++i) {
            SCOPED_TRACE(i);
            ASSERT_TRUE(s.ExtractFrame(&f));
            const SavedImage& image = g->SavedImages[i];
            EXPECT_EQ(image.ImageDesc.Left, f.left);
            EXPECT_EQ(image.ImageDesc.Top, f.top);
            EXPECT_EQ(image.ImageDesc.Width, f.width);
            EXPECT_EQ(image.ImageDesc.Height, f.height);
            GraphicsControlBlock gcb;
            if (FindControl(image, &gcb)) {
                EXPECT_EQ(gcb.DelayTime, f.delay);
                EXPECT_EQ(gcb.DisposalMode, f.disposal);
                if (gcb.DisposalMode >= 0 && gcb.DisposalMode < 4)
                    sawDisposal[gcb.DisposalMode] = true;
            } else {
                EXPECT_EQ(-1, f.delay);
                EXPECT_EQ(0, f.disposal);
                sawNoControl = true;
            }
            sawInterlace |= image.ImageDesc.Interlace;
            sawLocalTable |= image.ImageDesc.ColorMap != nullptr;
            sawComment |= HasExtension(image, COMMENT_EXT_FUNC_CODE);
            sawApplication |= HasExtension(image, APPLICATION_EXT_FUNC_CODE);

            // The cut-out frame is a GIF of its own with the very same image.
            std::vector<uint8_t> stream(s.FrameStreamLength(f));
            s.WriteFrameStream(f, stream.data());
            GiflibReader one(stream);
            ASSERT_TRUE(one.ok());
            ASSERT_EQ(1, one.gif->ImageCount);
            const SavedImage& alone = one.gif->SavedImages[0];
            EXPECT_EQ(g->SWidth, one.gif->SWidth);
            EXPECT_EQ(image.ImageDesc.Left, alone.ImageDesc.Left);
            size_t pixels = (size_t)image.ImageDesc.Width * image.ImageDesc.Height;
            EXPECT_EQ(0, memcmp(image.RasterBits, alone.RasterBits, pixels));
        }
        EXPECT_FALSE(s.ExtractFrame(&f));
    }
    // The samples really exercise what they are meant to.
    EXPECT_TRUE(sawInterlace);
    EXPECT_TRUE(sawLocalTable);
    EXPECT_TRUE(sawComment);
    EXPECT_TRUE(sawApplication);
    EXPECT_TRUE(sawNoControl);
    EXPECT_TRUE(sawDisposal[1] && sawDisposal[2] && sawDisposal[3]);
}
