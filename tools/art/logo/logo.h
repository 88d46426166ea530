// The About box logo: a gold coin with the product's currency sign that spins inside a turning
// refresh arrow, settles, turns the arrow green, catches a glint and sparkles.
#pragma once
#include <stdint.h>
#include <vector>

enum { kLogoSize = 48, kLogoFrames = 10, kLogoTransparent = 255 };

std::vector<uint8_t> BuildLogoGif();
