// Any bytes through the GIF block scanner and frame splitter: no read outside the input, every
// frame inside it, and every cut-out frame a one-frame stream that scans back the same.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "agent/gif/gif_scanner.h"

namespace {

void Check(bool ok) {
    if (!ok) abort();
}

bool SameFrame(const GifFrameRange& a, const GifFrameRange& b) {
    return a.left == b.left && a.top == b.top && a.width == b.width && a.height == b.height &&
           a.delay == b.delay && a.disposal == b.disposal && a.length == b.length;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 1 << 20) return 0;
    GifScanner s;
    int count;
    GifPath path = ChooseGifPath(&s, data, (uint32_t)size, &count);
    Check((path == GifPathNotGif) == !IsGifSignature(data, (uint32_t)size));
    if (path == GifPathNotGif) return 0;
    Check((path == GifPathNoFrame) == (count == 0));

    GifFrameRange f;
    int extracted = 0;
    while (s.ExtractFrame(&f)) {
        Check(f.start >= s.HeadLength() && f.length > 0 && f.start + f.length <= size);
        uint32_t length = s.FrameStreamLength(f);
        uint8_t* stream = (uint8_t*)malloc(length);
        s.WriteFrameStream(f, stream);
        GifScanner one;
        int oneCount;
        Check(ChooseGifPath(&one, stream, length, &oneCount) == GifPathOneFrame);
        GifFrameRange again;
        Check(one.ExtractFrame(&again) && SameFrame(f, again));
        free(stream);
        ++extracted;
    }
    Check(extracted == count);

    // The block walk alone, from the first block to wherever it stops.
    s.Rewind();
    while (s.SkipBlock())
        Check((uint32_t)s.cursor <= size);
    return 0;
}
