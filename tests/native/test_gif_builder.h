// Builds GIF streams block by block for the scanner tests, remembering where each block lies.
#pragma once
#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include <gif_lib.h>

#include "tools/art/logo/gif_encoder.h"

struct BuiltBlock {
    size_t offset;
    size_t length;
};

class GifBuilder {
  public:
    // tableBits n gives a global colour table of 2^(n+1) entries; -1 for none.
    explicit GifBuilder(int width = 8, int height = 8, int tableBits = 1,
                        const char* version = "89a") {
        Raw("GIF");
        Raw(version);
        Put16(width);
        Put16(height);
        bytes.push_back(tableBits >= 0 ? (uint8_t)(0x80 | tableBits) : 0);
        bytes.push_back(0);
        bytes.push_back(0);
        if (tableBits >= 0) Table(tableBits);
    }

    GifBuilder& Application() {
        Begin();
        Bytes({0x21, 0xFF, 0x0B});
        Raw("NETSCAPE2.0");
        Bytes({0x03, 0x01, 0x00, 0x00, 0x00});
        return End();
    }
    GifBuilder& Comment(const std::string& text) {
        Begin();
        Bytes({0x21, 0xFE});
        Chain(text);
        return End();
    }
    GifBuilder& GraphicControl(int disposal, int delay, int transparent = -1) {
        Begin();
        Bytes({0x21, 0xF9, 0x04, (uint8_t)((disposal << 2) | (transparent >= 0 ? 1 : 0))});
        Put16(delay);
        Bytes({(uint8_t)(transparent >= 0 ? transparent : 0), 0x00});
        return End();
    }
    GifBuilder& PlainText(const std::string& text) {
        Begin();
        Bytes({0x21, 0x01, 0x0C, 0, 0, 0, 0, 8, 0, 8, 0, 8, 8, 1, 0});
        Chain(text);
        return End();
    }
    // An image of index-0 pixels, optionally with a local colour table of 2^(n+1) entries.
    GifBuilder& Image(int left, int top, int width, int height, int localBits = -1) {
        Begin();
        bytes.push_back(0x2C);
        Put16(left);
        Put16(top);
        Put16(width);
        Put16(height);
        bytes.push_back(localBits >= 0 ? (uint8_t)(0x80 | localBits) : 0);
        if (localBits >= 0) Table(localBits);
        std::vector<uint8_t> pixels((size_t)width * height, 0);
        LzwEncode(pixels.data(), pixels.size(), &bytes);
        return End();
    }
    GifBuilder& Unknown(uint8_t first, uint8_t second) {
        Begin();
        Bytes({first, second, 0x00});
        return End();
    }
    GifBuilder& Trailer() {
        Begin();
        bytes.push_back(0x3B);
        return End();
    }

    const BuiltBlock& Block(size_t i) const { return blocks[i]; }
    size_t BlockCount() const { return blocks.size(); }

    std::vector<uint8_t> bytes;

  private:
    void Begin() { start = bytes.size(); }
    GifBuilder& End() {
        blocks.push_back({start, bytes.size() - start});
        return *this;
    }
    void Raw(const char* s) { bytes.insert(bytes.end(), s, s + strlen(s)); }
    void Bytes(std::initializer_list<uint8_t> list) {
        bytes.insert(bytes.end(), list.begin(), list.end());
    }
    void Put16(int v) {
        bytes.push_back(v & 0xFF);
        bytes.push_back((v >> 8) & 0xFF);
    }
    void Table(int bits) {
        for (int i = 0; i < (2 << bits); ++i)
            Bytes({(uint8_t)(i * 40), (uint8_t)(i * 20), 0x80});
    }
    // Data sub-blocks of at most 255 bytes and the terminating zero.
    void Chain(const std::string& data) {
        for (size_t at = 0; at < data.size(); at += 255) {
            size_t n = std::min<size_t>(255, data.size() - at);
            bytes.push_back((uint8_t)n);
            bytes.insert(bytes.end(), data.begin() + at, data.begin() + at + n);
        }
        bytes.push_back(0);
    }

    size_t start = 0;
    std::vector<BuiltBlock> blocks;
};

// giflib over a byte range in memory.
struct GiflibReader {
    explicit GiflibReader(const std::vector<uint8_t>& data) : data(data) {
        int error = 0;
        gif = DGifOpen(this, &GiflibReader::Read, &error);
        if (gif) slurped = DGifSlurp(gif) == GIF_OK;
    }
    ~GiflibReader() {
        if (gif) DGifCloseFile(gif, nullptr);
    }
    static int Read(GifFileType* g, GifByteType* out, int n) {
        GiflibReader* self = (GiflibReader*)g->UserData;
        size_t left = self->data.size() - self->at;
        size_t take = std::min<size_t>(left, n);
        if (take) memcpy(out, self->data.data() + self->at, take);
        self->at += take;
        return (int)take;
    }
    bool ok() const { return gif && slurped; }

    const std::vector<uint8_t>& data;
    size_t at = 0;
    GifFileType* gif = nullptr;
    bool slurped = false;
};
