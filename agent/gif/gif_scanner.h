// Walks the block structure of a GIF stream held in memory and cuts it into one-frame streams.
// Pure byte work: no pixel decoding and no Windows, so it is tested and fuzzed natively.
#pragma once
#include <stdint.h>

enum GifBlockKind {
    Unrecognised = 0,
    Application = 1,
    Comment = 2,
    GraphicControl = 3,
    PlainText = 4,
    Image = 5,
    Trailer = 6,
};

// Where a frame lies in the input, with its timing and placement.
struct GifFrameRange {
    uint32_t start;  // offset of the frame's first block
    uint32_t length; // through the end of its rendering block
    int width, height, left, top;
    int delay;    // hundredths of a second, -1 without a graphic control extension
    int disposal; // 0-7, 0 without a graphic control extension
};

// The three ways an input can be loaded, plus the one that fails.
enum GifPath {
    GifPathNotGif,    // handed whole to the picture loader
    GifPathNoFrame,   // a GIF without one complete frame: refused
    GifPathOneFrame,  // handed whole to the picture loader
    GifPathAnimation, // split into one-frame streams
};

class GifScanner {
  public:
    // Reads the header. Input shorter than its header and colour table keeps a cursor past the
    // end, so it yields no frame; nothing beyond size is ever read.
    void Attach(const uint8_t* bytes, uint32_t size);
    void Detach();

    GifBlockKind CurrentBlockKind() const;
    int CurrentBlockLength() const;
    bool SkipBlock();
    void Rewind();
    bool SkipFrame();
    int CountFrames();
    // Moves past the next frame and describes it; false at the end of the complete frames.
    bool ExtractFrame(GifFrameRange* frame);

    // A self-contained GIF of one frame: the header and global colour table, the frame, a trailer.
    uint32_t FrameStreamLength(const GifFrameRange& frame) const;
    void WriteFrameStream(const GifFrameRange& frame, uint8_t* out) const;

    uint32_t HeadLength() const { return 13 + colourTableSize; }

    const uint8_t* data = nullptr;
    uint32_t dataSize = 0;
    int cursor = 0;
    int colourTableSize = 0;
    bool isGif = false;
    int width = 0;
    int height = 0;

  private:
    bool SkipToRenderingBlock();
    bool SkipExtrasBeforeRendering();
    int ChainEnd(int64_t p) const;
};

bool IsGifSignature(const uint8_t* bytes, uint32_t size);

// Chooses the load path of an input; scanner is left attached and rewound on the GIF paths.
GifPath ChooseGifPath(GifScanner* scanner, const uint8_t* bytes, uint32_t size, int* frameCount);

const char* GifPathName(GifPath path);
