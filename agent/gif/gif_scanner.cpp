#include "agent/gif/gif_scanner.h"

#include <string.h>

namespace {

int Read16(const uint8_t* p) {
    return p[0] | (p[1] << 8);
}

// The stream is addressed with int offsets; anything larger is no picture we could show.
const uint32_t kLargestInput = 0x7FFF0000u;

} // namespace

bool IsGifSignature(const uint8_t* bytes, uint32_t size) {
    return bytes && size >= 3 && memcmp(bytes, "GIF", 3) == 0;
}

void GifScanner::Attach(const uint8_t* bytes, uint32_t size) {
    Detach();
    if (!bytes || size > kLargestInput) return;
    data = bytes;
    dataSize = size;
    isGif = IsGifSignature(bytes, size);
    if (size > 10 && (bytes[10] & 0x80)) colourTableSize = 3 << ((bytes[10] & 7) + 1);
    if (size >= 10) {
        width = Read16(bytes + 6);
        height = Read16(bytes + 8);
    }
    Rewind();
}

void GifScanner::Detach() {
    data = nullptr;
    dataSize = 0;
    cursor = 0;
    colourTableSize = 0;
    isGif = false;
}

GifBlockKind GifScanner::CurrentBlockKind() const {
    if (!data || cursor < 0 || static_cast<uint32_t>(cursor) >= dataSize) return Unrecognised;
    switch (data[cursor]) {
    case 0x2C:
        return Image;
    case 0x3B:
        return Trailer;
    case 0x21:
        break;
    default:
        return Unrecognised;
    }
    if (static_cast<uint32_t>(cursor) + 1 >= dataSize) return Unrecognised;
    switch (data[cursor + 1]) {
    case 0xFF:
        return Application;
    case 0xFE:
        return Comment;
    case 0xF9:
        return GraphicControl;
    case 0x01:
        return PlainText;
    default:
        return Unrecognised;
    }
}

// Length from the cursor through the zero byte that ends the chain starting at p. A chain that
// runs off the end yields a length reaching past dataSize, so SkipBlock refuses the block.
int GifScanner::ChainEnd(int64_t p) const {
    while (p < static_cast<int64_t>(dataSize)) {
        uint8_t s = data[p];
        if (s == 0) break;
        p += s + 1;
    }
    return static_cast<int>(p + 1 - cursor);
}

int GifScanner::CurrentBlockLength() const {
    switch (CurrentBlockKind()) {
    case Application:
        return ChainEnd(static_cast<int64_t>(cursor) + 14);
    case Comment:
        return ChainEnd(static_cast<int64_t>(cursor) + 2);
    case GraphicControl:
        return 8;
    case PlainText:
        return ChainEnd(static_cast<int64_t>(cursor) + 15);
    case Image: {
        // The packed byte of a descriptor cut short is missing: too long to skip either way.
        if (static_cast<uint32_t>(cursor) + 9 >= dataSize) return 12;
        uint8_t packed = data[cursor + 9];
        int localTable = (packed & 0x80) ? 3 << ((packed & 7) + 1) : 0;
        return ChainEnd(static_cast<int64_t>(cursor) + 11 + localTable);
    }
    case Trailer:
        return 1;
    default:
        return -1;
    }
}

bool GifScanner::SkipBlock() {
    if (!data) return false;
    int length = CurrentBlockLength();
    if (length <= 0 || static_cast<int64_t>(cursor) + length > static_cast<int64_t>(dataSize))
        return false;
    cursor += length;
    return true;
}

void GifScanner::Rewind() {
    cursor = 13 + colourTableSize;
}

bool GifScanner::SkipToRenderingBlock() {
    for (;;) {
        GifBlockKind kind = CurrentBlockKind();
        if (kind == Unrecognised || kind == Trailer) return false;
        if (kind != Application && kind != Comment) return CurrentBlockLength() > 0;
        if (!SkipBlock()) return false;
    }
}

bool GifScanner::SkipExtrasBeforeRendering() {
    for (;;) {
        GifBlockKind kind = CurrentBlockKind();
        if (kind == Image || kind == PlainText) return true;
        if (kind == Unrecognised || kind == Trailer) return false;
        if (!SkipBlock()) return false;
    }
}

bool GifScanner::SkipFrame() {
    if (!data || !SkipToRenderingBlock()) return false;
    if (CurrentBlockKind() == GraphicControl) {
        if (!SkipBlock() || !SkipExtrasBeforeRendering()) return false;
    }
    return SkipBlock();
}

int GifScanner::CountFrames() {
    Rewind();
    int count = 0;
    while (SkipFrame())
        ++count;
    Rewind();
    return count;
}

bool GifScanner::ExtractFrame(GifFrameRange* frame) {
    if (!data) return false;
    frame->disposal = 0;
    if (!SkipToRenderingBlock()) return false;
    int start = cursor;
    if (CurrentBlockKind() == GraphicControl) {
        if (!SkipBlock()) return false;
        // Read only once the whole block is known to lie inside the data.
        frame->delay = Read16(data + start + 4);
        frame->disposal = (data[start + 3] >> 2) & 7;
        if (!SkipExtrasBeforeRendering()) return false;
    } else {
        frame->delay = -1;
    }
    int rendering = cursor;
    GifBlockKind kind = CurrentBlockKind();
    if (!SkipBlock()) return false;
    if (kind == Image) {
        const uint8_t* d = data + rendering;
        frame->left = Read16(d + 1);
        frame->top = Read16(d + 3);
        frame->width = Read16(d + 5);
        frame->height = Read16(d + 7);
    } else {
        // Plain text carries no image placement: it is drawn over the whole logical screen.
        frame->left = 0;
        frame->top = 0;
        frame->width = width;
        frame->height = height;
    }
    frame->start = static_cast<uint32_t>(start);
    frame->length = static_cast<uint32_t>(cursor - start);
    return true;
}

uint32_t GifScanner::FrameStreamLength(const GifFrameRange& frame) const {
    return HeadLength() + frame.length + 1;
}

void GifScanner::WriteFrameStream(const GifFrameRange& frame, uint8_t* out) const {
    uint32_t head = HeadLength();
    memcpy(out, data, head);
    memcpy(out + head, data + frame.start, frame.length);
    out[head + frame.length] = 0x3B;
}

GifPath ChooseGifPath(GifScanner* scanner, const uint8_t* bytes, uint32_t size, int* frameCount) {
    *frameCount = 0;
    scanner->Attach(bytes, size);
    if (!scanner->isGif) return GifPathNotGif;
    *frameCount = scanner->CountFrames();
    if (*frameCount == 0) return GifPathNoFrame;
    return *frameCount == 1 ? GifPathOneFrame : GifPathAnimation;
}

const char* GifPathName(GifPath path) {
    static const char* const kNames[] = {"still", "no frame", "one frame", "animation"};
    const unsigned last = GifPathAnimation;
    unsigned index = static_cast<unsigned>(path);
    return kNames[index < last ? index : last];
}
