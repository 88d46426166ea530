// Any bytes through the frame splitter, with giflib as a second opinion: every cut-out frame
// stream must be a well-formed GIF of exactly one rendering block that ends at its trailer, and
// where giflib reads the whole input cleanly the two must agree on the frames and their pixels.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <gif_lib.h>

#include <utility>
#include <vector>

#include "agent/gif/gif_scanner.h"

namespace {

void Check(bool ok) {
    if (!ok) abort();
}

struct Memory {
    const uint8_t* data;
    size_t size;
    size_t pos;
};

int ReadMemory(GifFileType* gif, GifByteType* out, int n) {
    Memory* m = static_cast<Memory*>(gif->UserData);
    size_t left = m->size - m->pos;
    size_t take = n < 0 ? 0 : (size_t)n < left ? (size_t)n : left;
    memcpy(out, m->data + m->pos, take);
    m->pos += take;
    return (int)take;
}

struct Rendering {
    bool image; // else a plain text extension
    int left, top, width, height;
};

// What giflib makes of a stream's block structure; with decoding asked for, also its pixels.
// Its low-level reader is used rather than DGifSlurp, which after an extension whose first
// sub-block is empty reads one length byte too many and so walks another stream than this.
struct Walk {
    bool opened = false;
    bool terminated = false; // reached the trailer without an error
    bool plain = true;       // only blocks whose layout the splitter also knows
    size_t end = 0;          // bytes consumed when the walk stopped
    int width = 0, height = 0;
    std::vector<Rendering> renderings;
    long pixels = 0;
    std::vector<std::vector<GifPixelType>> rasters;
};

bool ReadChain(GifFileType* gif, GifByteType* block, bool image) {
    while (block) {
        int rc = image ? DGifGetCodeNext(gif, &block) : DGifGetExtensionNext(gif, &block);
        if (rc != GIF_OK) return false;
    }
    return true;
}

bool ReadImage(GifFileType* gif, bool decode, Walk* w) {
    const GifImageDesc& d = gif->Image;
    if (!decode) {
        int codeSize;
        GifByteType* block;
        return DGifGetCode(gif, &codeSize, &block) == GIF_OK && ReadChain(gif, block, true);
    }
    // DGifGetLine reads the rest of the chain once the last pixel is out.
    std::vector<GifPixelType> raster((size_t)d.Width * d.Height);
    if (raster.empty() || DGifGetLine(gif, raster.data(), (int)raster.size()) != GIF_OK)
        return false;
    w->rasters.push_back(std::move(raster));
    return true;
}

Walk WalkStream(const uint8_t* data, size_t size, bool decode = false) {
    Walk w;
    Memory m = {data, size, 0};
    int error = 0;
    GifFileType* gif = DGifOpen(&m, ReadMemory, &error);
    if (!gif) return w;
    w.opened = true;
    w.width = gif->SWidth;
    w.height = gif->SHeight;
    for (;;) {
        GifRecordType type;
        if (DGifGetRecordType(gif, &type) != GIF_OK) break;
        if (type == TERMINATE_RECORD_TYPE) {
            w.terminated = true;
            break;
        }
        if (type == IMAGE_DESC_RECORD_TYPE) {
            if (DGifGetImageDesc(gif) != GIF_OK) break;
            const GifImageDesc& d = gif->Image;
            if (!ReadImage(gif, decode, &w)) break;
            w.renderings.push_back({true, d.Left, d.Top, d.Width, d.Height});
            w.pixels += (long)d.Width * d.Height;
        } else if (type == EXTENSION_RECORD_TYPE) {
            int code;
            GifByteType* block;
            if (DGifGetExtension(gif, &code, &block) != GIF_OK) break;
            int first = block ? block[0] : -1;
            switch (code) {
            case GRAPHICS_EXT_FUNC_CODE: {
                // The splitter takes this block as 8 bytes: 4 of data, then the chain's end.
                if (first != 4) w.plain = false;
                if (block && DGifGetExtensionNext(gif, &block) != GIF_OK) goto done;
                if (block) w.plain = false;
                break;
            }
            case APPLICATION_EXT_FUNC_CODE:
                w.plain &= first == 11;
                break;
            case PLAINTEXT_EXT_FUNC_CODE:
                w.plain &= first == 12;
                break;
            case COMMENT_EXT_FUNC_CODE:
                break;
            default:
                w.plain = false;
            }
            if (!ReadChain(gif, block, false)) break;
            if (code == PLAINTEXT_EXT_FUNC_CODE)
                w.renderings.push_back({false, 0, 0, gif->SWidth, gif->SHeight});
        } else {
            break;
        }
    }
done:
    w.end = m.pos;
    DGifCloseFile(gif, &error);
    return w;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 1 << 16) return 0;
    GifScanner s;
    int count;
    if (ChooseGifPath(&s, data, (uint32_t)size, &count) == GifPathNotGif) return 0;

    Walk whole = WalkStream(data, size);
    // Only where giflib read every block, each laid out the way the splitter expects, must the
    // two agree; elsewhere the splitter may stop earlier or read on.
    bool compare = whole.opened && whole.terminated && whole.plain;
    if (compare) Check(count == (int)whole.renderings.size());
    bool decode = compare && whole.pixels < 200000 && (long)whole.width * whole.height < 200000;
    Walk original;
    if (decode) original = WalkStream(data, size, true);

    GifFrameRange f;
    int index = 0, image = 0;
    while (s.ExtractFrame(&f)) {
        std::vector<uint8_t> stream(s.FrameStreamLength(f));
        s.WriteFrameStream(f, stream.data());
        Walk one = WalkStream(stream.data(), stream.size());
        bool sound = whole.opened && (compare || one.plain);
        if (sound) {
            // The splitter's frame is one rendering block and ends right at the trailer.
            Check(one.opened && one.width == s.width && one.height == s.height);
            if (one.terminated) {
                Check(one.end == stream.size() && one.renderings.size() == 1);
                const Rendering& r = one.renderings[0];
                Check(r.left == f.left && r.top == f.top && r.width == f.width &&
                      r.height == f.height);
            }
        }
        if (compare) {
            Check(one.terminated);
            const Rendering& expected = whole.renderings[index];
            Check(expected.image == one.renderings[0].image);
            if (expected.image && original.terminated) {
                Walk cut = WalkStream(stream.data(), stream.size(), true);
                Check(cut.terminated && cut.rasters.size() == 1);
                Check(cut.rasters[0] == original.rasters[image]);
            }
        }
        image += index < (int)whole.renderings.size() && whole.renderings[index].image;
        ++index;
    }
    Check(index == count);
    return 0;
}
