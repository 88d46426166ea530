// Writers for Windows .ico and .bmp files: the bytes resource compilers and LoadImage accept.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "tools/art/common/canvas.h"
#include "tools/art/common/indexed.h"

namespace art {

using Bytes = std::vector<uint8_t>;

// One icon file holding several images (each 4 or 8 bits with its AND mask), in the given order.
// Returns empty bytes for an image the format cannot hold (bad depth, size 0 or above 256).
Bytes EncodeIco(const std::vector<IndexedImage>& images);

// A bottom-up BI_RGB bitmap file: palettised (4 or 8 bits) or, from a canvas, 24 bits with the
// canvas's alpha ignored. Empty bytes for a depth or size the format cannot hold.
Bytes EncodeBmp(const IndexedImage& image);
Bytes EncodeBmp24(const Canvas& canvas);

// Writes through a temporary file and a rename, so a failed run never leaves a half file behind.
bool WriteFileAtomically(const std::string& path, const Bytes& bytes);

} // namespace art
