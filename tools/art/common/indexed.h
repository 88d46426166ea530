// Palettised images: turning a drawn canvas into 16- or 256-colour pixels with a transparency mask.
#pragma once

#include <stdint.h>

#include <vector>

#include "tools/art/common/canvas.h"

namespace art {

struct IndexedImage {
    int width = 0, height = 0;
    int bpp = 0;                      // 4 or 8
    std::vector<Rgb> palette;         // exactly 1 << bpp entries
    std::vector<uint8_t> pixels;      // palette indices, top row first
    std::vector<uint8_t> transparent; // 1 where an icon shows the screen through
};

// The classic 16 colours in their usual order (0 black, 7 silver 0xC0C0C0, 15 white).
const std::vector<Rgb>& WindowsPalette16();
const int kSilverIndex = 7;

// A pixel less than half covered is transparent; icons need such pixels at index 0 (black) so the
// colour part leaves the screen alone where the mask lets it through.
IndexedImage ToIcon16(const Canvas& canvas);
IndexedImage ToIcon256(const Canvas& canvas);

// An opaque bitmap on the 16-colour palette whose entry backgroundIndex is kept for uncovered
// pixels only (the dialog recolours exactly that entry); edges are blended over it first.
IndexedImage ToBitmap16(const Canvas& canvas, int backgroundIndex);

// Composites the canvas over an opaque background.
Canvas Flatten(const Canvas& canvas, Rgb background);

// Index of the nearest palette colour, skipping `skip` (-1 for none); ties go to the lower index.
int NearestIndex(const std::vector<Rgb>& palette, Rgb c, int skip = -1);

} // namespace art
