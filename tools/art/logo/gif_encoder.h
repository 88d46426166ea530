// A small GIF89a writer: global palette, looping extension, frames with graphic control.
#pragma once
#include <stddef.h>
#include <stdint.h>
#include <vector>

struct EncodedFrame {
    int left, top, width, height;
    int delay;                   // hundredths of a second
    int disposal;                // 0-7
    std::vector<uint8_t> pixels; // palette indices, row by row
};

// LZW-compresses 8-bit indices into the GIF image data form: code size byte, sub-blocks, zero.
void LzwEncode(const uint8_t* pixels, size_t count, std::vector<uint8_t>* out);

std::vector<uint8_t> EncodeGif(int width, int height, const uint8_t palette[768],
                               int transparentIndex, const std::vector<EncodedFrame>& frames);
