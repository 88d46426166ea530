#include <gtest/gtest.h>

#include <stdlib.h>

#include <array>

#include "agent/gif/gif_scanner.h"
#include "tests/native/test_gif_builder.h"

namespace {

// A frame's timing and place in one value: delay, disposal, left, top, width, height.
typedef std::array<int, 6> FramePlace;
FramePlace PlaceOf(const GifFrameRange& f) {
    return {f.delay, f.disposal, f.left, f.top, f.width, f.height};
}

std::vector<GifFrameRange> AllFrames(GifScanner* s) {
    std::vector<GifFrameRange> frames;
    s->Rewind();
    GifFrameRange f;
    while (s->ExtractFrame(&f))
        frames.push_back(f);
    return frames;
}

// The frames of the built stream, once its path and frame count are as expected.
std::vector<GifFrameRange> FramesOf(const GifBuilder& b, GifPath path, int count, GifScanner* s) {
    int counted = -1;
    EXPECT_EQ(path, ChooseGifPath(s, b.bytes.data(), (uint32_t)b.bytes.size(), &counted));
    EXPECT_EQ(count, counted);
    return AllFrames(s);
}

std::vector<uint8_t> StreamOf(const GifScanner& s, const GifFrameRange& f) {
    std::vector<uint8_t> out(s.FrameStreamLength(f));
    s.WriteFrameStream(f, out.data());
    return out;
}

} // namespace

TEST(GifScanner, BlockKindsAndLengths) {
    GifBuilder b(16, 16, 2);
    b.Application()
        .Comment("")
        .Comment(std::string(300, 'c'))
        .GraphicControl(1, 7)
        .PlainText("hello")
        .Image(2, 3, 4, 5, 1)
        .Image(0, 0, 40, 40)
        .Trailer();
    const GifBlockKind expected[] = {Application, Comment, Comment, GraphicControl,
                                     PlainText,   Image,   Image,   Trailer};
    GifScanner s;
    s.Attach(b.bytes.data(), (uint32_t)b.bytes.size());
    EXPECT_TRUE(s.isGif);
    EXPECT_EQ(3 * 8, s.colourTableSize);
    EXPECT_EQ(16, s.width);
    EXPECT_EQ(13 + 24, s.cursor);
    for (size_t i = 0; i < b.BlockCount(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ((int)b.Block(i).offset, s.cursor);
        EXPECT_EQ(expected[i], s.CurrentBlockKind());
        EXPECT_EQ((int)b.Block(i).length, s.CurrentBlockLength());
        ASSERT_TRUE(s.SkipBlock());
    }
    // An empty chain is its zero byte alone.
    EXPECT_EQ(3u, b.Block(1).length);
    EXPECT_EQ((int)b.bytes.size(), s.cursor);
    EXPECT_EQ(Unrecognised, s.CurrentBlockKind());
    EXPECT_FALSE(s.SkipBlock());
}

TEST(GifScanner, UnrecognisedBlocksCannotBeSkipped) {
    for (uint8_t label : {0x00, 0x02, 0xFA}) {
        GifBuilder b;
        b.Unknown(0x21, label);
        GifScanner s;
        s.Attach(b.bytes.data(), (uint32_t)b.bytes.size());
        int before = s.cursor;
        EXPECT_EQ(Unrecognised, s.CurrentBlockKind());
        EXPECT_EQ(-1, s.CurrentBlockLength());
        EXPECT_FALSE(s.SkipBlock());
        EXPECT_EQ(before, s.cursor);
    }
    GifBuilder b;
    b.Unknown(0x00, 0x00);
    GifScanner s;
    s.Attach(b.bytes.data(), (uint32_t)b.bytes.size());
    EXPECT_EQ(Unrecognised, s.CurrentBlockKind());
}

TEST(GifScanner, BlockEndingExactlyAtTheEndIsAcceptedOnePastIsNot) {
    GifBuilder b;
    b.Comment("abc");
    GifScanner s;
    s.Attach(b.bytes.data(), (uint32_t)b.bytes.size());
    EXPECT_TRUE(s.SkipBlock());
    s.Attach(b.bytes.data(), (uint32_t)b.bytes.size() - 1);
    int before = s.cursor;
    EXPECT_FALSE(s.SkipBlock());
    EXPECT_EQ(before, s.cursor);
}

TEST(GifScanner, GraphicControlCommentAndImageMakeOneFrame) {
    GifBuilder b(10, 10);
    b.Application().GraphicControl(3, 250, 1).Comment("note").Image(1, 2, 3, 4).Trailer();
    GifScanner s;
    std::vector<GifFrameRange> frames = FramesOf(b, GifPathOneFrame, 1, &s);
    ASSERT_EQ(1u, frames.size());
    const GifFrameRange& f = frames[0];
    EXPECT_EQ((FramePlace{250, 3, 1, 2, 3, 4}), PlaceOf(f));
    // The frame runs from the graphic control through the image; the looping block stays out.
    EXPECT_EQ(b.Block(1).offset, f.start);
    EXPECT_EQ(b.Block(1).length + b.Block(2).length + b.Block(3).length, f.length);

    std::vector<uint8_t> stream = StreamOf(s, f);
    std::vector<uint8_t> expected(b.bytes.begin(), b.bytes.begin() + 13 + 12);
    expected.insert(expected.end(), b.bytes.begin() + f.start,
                    b.bytes.begin() + f.start + f.length);
    expected.push_back(0x3B);
    EXPECT_EQ(expected, stream);

    GiflibReader reader(stream);
    ASSERT_TRUE(reader.ok());
    EXPECT_EQ(1, reader.gif->ImageCount);
    EXPECT_EQ(1, reader.gif->SavedImages[0].ImageDesc.Left);
}

TEST(GifScanner, PlainTextIsARenderingBlock) {
    GifBuilder b(20, 12);
    b.GraphicControl(2, 10).PlainText("rates").GraphicControl(1, 20).Image(0, 0, 2, 2).Trailer();
    GifScanner s;
    std::vector<GifFrameRange> frames = FramesOf(b, GifPathAnimation, 2, &s);
    ASSERT_EQ(2u, frames.size());
    // Plain text has no image placement of its own: it takes the logical screen.
    EXPECT_EQ((FramePlace{10, 2, 0, 0, 20, 12}), PlaceOf(frames[0]));
    EXPECT_EQ(b.Block(0).length + b.Block(1).length, frames[0].length);
    EXPECT_EQ(20, frames[1].delay);
}

TEST(GifScanner, FrameWithoutGraphicControl) {
    GifBuilder b;
    b.GraphicControl(2, 30).Image(0, 0, 8, 8).Comment("x").Image(4, 4, 2, 2).Trailer();
    GifScanner s;
    std::vector<GifFrameRange> frames = FramesOf(b, GifPathAnimation, 2, &s);
    ASSERT_EQ(2u, frames.size());
    EXPECT_EQ((FramePlace{-1, 0, 4, 4, 2, 2}), PlaceOf(frames[1]));
    // The comment in front of a frame without graphic control is not part of the frame.
    EXPECT_EQ(b.Block(3).offset, frames[1].start);
}

TEST(GifScanner, UnrecognisedBlockEndsTheScanFramesBeforeItStand) {
    GifBuilder b;
    b.GraphicControl(1, 5).Image(0, 0, 8, 8).GraphicControl(1, 6).Image(0, 0, 8, 8);
    b.Unknown(0x21, 0x42).GraphicControl(1, 7).Image(0, 0, 8, 8).Trailer();
    GifScanner s;
    std::vector<GifFrameRange> frames = FramesOf(b, GifPathAnimation, 2, &s);
    ASSERT_EQ(2u, frames.size());
    EXPECT_EQ(6, frames[1].delay);

    // Between a graphic control and its image, too.
    GifBuilder c;
    c.GraphicControl(1, 5).Image(0, 0, 8, 8).GraphicControl(1, 6).Unknown(0x99, 0x00);
    c.Image(0, 0, 8, 8).Trailer();
    EXPECT_EQ(1u, FramesOf(c, GifPathOneFrame, 1, &s).size());
}

TEST(GifScanner, PathsForOtherInput) {
    GifScanner s;
    int count;
    const uint8_t png[] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    EXPECT_EQ(GifPathNotGif, ChooseGifPath(&s, png, sizeof png, &count));
    EXPECT_EQ(GifPathNotGif, ChooseGifPath(&s, (const uint8_t*)"GI", 2, &count));
    EXPECT_EQ(GifPathNotGif, ChooseGifPath(&s, nullptr, 0, &count));

    // The version bytes do not choose the path.
    GifBuilder odd(8, 8, 1, "99z");
    odd.Image(0, 0, 8, 8).Trailer();
    EXPECT_EQ(GifPathOneFrame,
              ChooseGifPath(&s, odd.bytes.data(), (uint32_t)odd.bytes.size(), &count));

    GifBuilder empty;
    empty.Trailer();
    EXPECT_EQ(GifPathNoFrame,
              ChooseGifPath(&s, empty.bytes.data(), (uint32_t)empty.bytes.size(), &count));

    // One complete frame with a broken one behind it is still one frame.
    GifBuilder tail;
    tail.Image(0, 0, 8, 8).GraphicControl(1, 1);
    tail.bytes.push_back(0x2C);
    EXPECT_EQ(GifPathOneFrame,
              ChooseGifPath(&s, tail.bytes.data(), (uint32_t)tail.bytes.size(), &count));
}

// Every prefix of an animation, each in a buffer of exactly its size (ASan guards the end).
TEST(GifScanner, TruncatedAtEveryOffsetKeepsOnlyCompleteFrames) {
    GifBuilder b(12, 12, 7);
    b.Application()
        .GraphicControl(2, 0)
        .Image(0, 0, 12, 12, 2)
        .Comment("mid")
        .GraphicControl(3, 40)
        .Image(3, 3, 5, 5)
        .PlainText("abc")
        .Image(1, 1, 2, 2)
        .Trailer();
    GifScanner full;
    full.Attach(b.bytes.data(), (uint32_t)b.bytes.size());
    std::vector<GifFrameRange> whole = AllFrames(&full);
    ASSERT_EQ(4u, whole.size());

    for (size_t n = 0; n <= b.bytes.size(); ++n) {
        SCOPED_TRACE(n);
        uint8_t* copy = (uint8_t*)malloc(n ? n : 1);
        memcpy(copy, b.bytes.data(), n);
        GifScanner s;
        int count;
        GifPath path = ChooseGifPath(&s, copy, (uint32_t)n, &count);
        size_t complete = 0;
        while (complete < whole.size() && whole[complete].start + whole[complete].length <= n)
            ++complete;
        EXPECT_EQ((int)complete, count);
        if (n < 3) {
            EXPECT_EQ(GifPathNotGif, path);
        }
        std::vector<GifFrameRange> got = AllFrames(&s);
        ASSERT_EQ(complete, got.size());
        for (size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(whole[i].start, got[i].start);
            EXPECT_EQ(whole[i].length, got[i].length);
            EXPECT_EQ(whole[i].delay, got[i].delay);
            std::vector<uint8_t> stream = StreamOf(s, got[i]);
            EXPECT_EQ(0x3B, stream.back());
        }
        free(copy);
    }
}

TEST(GifScanner, ShortHeaderOrColourTableGivesNoFrame) {
    GifBuilder b(8, 8, 7); // 768-byte table
    b.Image(0, 0, 8, 8).Trailer();
    GifScanner s;
    int count;
    for (uint32_t n : {3u, 6u, 10u, 12u, 13u, 100u, 13u + 767u, 13u + 768u}) {
        EXPECT_EQ(GifPathNoFrame, ChooseGifPath(&s, b.bytes.data(), n, &count)) << n;
    }
    // A table flag whose table would lie past the end of a tiny input.
    const uint8_t tiny[] = {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0xF7};
    EXPECT_EQ(GifPathNoFrame, ChooseGifPath(&s, tiny, sizeof tiny, &count));
}

TEST(GifScanner, ChainsRunningOffTheEndAreNeverSkipped) {
    // A comment whose size bytes jump past the end, and one whose zero byte is missing.
    GifBuilder b;
    b.bytes.insert(b.bytes.end(), {0x21, 0xFE, 0xFF, 'a'});
    GifScanner s;
    s.Attach(b.bytes.data(), (uint32_t)b.bytes.size());
    EXPECT_EQ(Comment, s.CurrentBlockKind());
    EXPECT_GT(s.cursor + s.CurrentBlockLength(), (int)b.bytes.size());
    EXPECT_FALSE(s.SkipBlock());

    GifBuilder c;
    c.bytes.insert(c.bytes.end(), {0x21, 0xFE, 0x01, 'a'});
    s.Attach(c.bytes.data(), (uint32_t)c.bytes.size());
    EXPECT_FALSE(s.SkipBlock());
    EXPECT_FALSE(s.SkipFrame());

    // An image descriptor cut before its packed byte.
    GifBuilder d;
    d.bytes.insert(d.bytes.end(), {0x2C, 0, 0, 0, 0, 8, 0});
    s.Attach(d.bytes.data(), (uint32_t)d.bytes.size());
    EXPECT_EQ(Image, s.CurrentBlockKind());
    EXPECT_FALSE(s.SkipBlock());
}
