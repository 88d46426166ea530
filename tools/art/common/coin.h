// The product's mark: a gold coin with a dollar sign, shared by the agent's and the conduit's
// icons.
#pragma once

#include "tools/art/common/canvas.h"

namespace art {

struct CoinColours {
    Rgb rim, face, shine, sign;
};

extern const CoinColours kGoldCoin;    // anti-aliased, 256-colour pictures
extern const CoinColours kClassicCoin; // the 16 classic colours

// Coins from r = 6.5 up get a proportional rim and a highlight; smaller ones a 1-pixel rim.
void DrawCoin(Canvas& c, double cx, double cy, double r, const CoinColours& k);

// A dollar sign `h` pixels tall centred on (cx, cy). Below 9 pixels it is a hand-placed 5x7
// pattern (centred on the pixel that holds (cx, cy)), which reads better than any curve there.
void DrawDollar(Canvas& c, double cx, double cy, double h, Rgb colour);

} // namespace art
