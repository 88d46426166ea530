#include "tools/art/logo/gif_encoder.h"

#include <algorithm>

namespace {

const int kMinCodeSize = 8;
const int kClear = 1 << kMinCodeSize;
const int kEnd = kClear + 1;
const int kLastCode = 4095;

// Packs codes least significant bit first into 255-byte sub-blocks.
class CodeWriter {
  public:
    explicit CodeWriter(std::vector<uint8_t>* out) : out(out) {}
    void Put(int code, int bits) {
        accumulator |= (uint32_t)code << pending;
        pending += bits;
        while (pending >= 8) {
            Byte(accumulator & 0xFF);
            accumulator >>= 8;
            pending -= 8;
        }
    }
    void Finish() {
        if (pending > 0) Byte(accumulator & 0xFF);
        Flush();
        out->push_back(0);
    }

  private:
    void Byte(uint8_t b) {
        block[blockLength++] = b;
        if (blockLength == 255) Flush();
    }
    void Flush() {
        if (blockLength == 0) return;
        out->push_back((uint8_t)blockLength);
        out->insert(out->end(), block, block + blockLength);
        blockLength = 0;
    }
    std::vector<uint8_t>* out;
    uint32_t accumulator = 0;
    int pending = 0;
    uint8_t block[255];
    int blockLength = 0;
};

void Put16(std::vector<uint8_t>* out, int v) {
    out->push_back(v & 0xFF);
    out->push_back((v >> 8) & 0xFF);
}

} // namespace

void LzwEncode(const uint8_t* pixels, size_t count, std::vector<uint8_t>* out) {
    out->push_back(kMinCodeSize);
    CodeWriter writer(out);
    // table[prefix * 256 + byte] = code of that string, 0 when absent (no string gets code 0).
    std::vector<uint16_t> table((kLastCode + 1) * 256, 0);
    int nextCode = kEnd + 1;
    int bits = kMinCodeSize + 1;
    writer.Put(kClear, bits);
    if (count == 0) {
        writer.Put(kEnd, bits);
        writer.Finish();
        return;
    }
    int prefix = pixels[0];
    for (size_t i = 1; i < count; ++i) {
        int k = pixels[i];
        uint16_t found = table[prefix * 256 + k];
        if (found) {
            prefix = found;
            continue;
        }
        writer.Put(prefix, bits);
        // Clear one code early, as decoders that lag a code behind expect.
        if (nextCode >= kLastCode) {
            writer.Put(kClear, bits);
            std::fill(table.begin(), table.end(), 0);
            nextCode = kEnd + 1;
            bits = kMinCodeSize + 1;
        } else {
            table[prefix * 256 + k] = (uint16_t)nextCode++;
            if (nextCode > (1 << bits) && bits < 12) ++bits;
        }
        prefix = k;
    }
    writer.Put(prefix, bits);
    writer.Put(kEnd, bits);
    writer.Finish();
}

std::vector<uint8_t> EncodeGif(int width, int height, const uint8_t palette[768],
                               int transparentIndex, const std::vector<EncodedFrame>& frames) {
    std::vector<uint8_t> out;
    const char* signature = "GIF89a";
    out.insert(out.end(), signature, signature + 6);
    Put16(&out, width);
    Put16(&out, height);
    out.push_back(0xF7); // global table of 256 colours, 8 bits per primary
    out.push_back(0);
    out.push_back(0);
    out.insert(out.end(), palette, palette + 768);

    const uint8_t loop[] = {0x21, 0xFF, 0x0B, 'N', 'E',  'T',  'S',  'C',  'A', 'P',
                            'E',  '2',  '.',  '0', 0x03, 0x01, 0x00, 0x00, 0x00};
    out.insert(out.end(), loop, loop + sizeof loop);

    for (const EncodedFrame& f : frames) {
        out.push_back(0x21);
        out.push_back(0xF9);
        out.push_back(4);
        out.push_back((uint8_t)(((f.disposal & 7) << 2) | 1));
        Put16(&out, f.delay);
        out.push_back((uint8_t)transparentIndex);
        out.push_back(0);

        out.push_back(0x2C);
        Put16(&out, f.left);
        Put16(&out, f.top);
        Put16(&out, f.width);
        Put16(&out, f.height);
        out.push_back(0);
        LzwEncode(f.pixels.data(), f.pixels.size(), &out);
    }
    out.push_back(0x3B);
    return out;
}
