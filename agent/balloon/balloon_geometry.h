// The balloon's shape, placement and colours: plain arithmetic, no Windows.
#pragma once
#include <stdint.h>

enum TailSide { TailTopRight = 0, TailTopLeft = 1, TailBottomRight = 2, TailBottomLeft = 3 };

enum {
    kTailHeight = 20,     // the tail's share of the window height, and the vertical slack
    kCornerDiameter = 24, // the rounded rectangle's corner ellipses
    kIconSize = 16,
    kGradientBands = 200,
    kTitleLimit = 125, // characters of the title that are measured and drawn
};

// Close-box look: away and pressed are bits, "over" is neither.
enum {
    CloseOver = 0,
    ClosePressed = 0x200, // also the bit that says a press began in the box and lasts
    CloseAway = 0x4000,
};

struct BalloonRect {
    int left, top, right, bottom;
};

struct BalloonPoint {
    int x, y;
};

inline bool TailOnTop(int side) {
    return side == TailTopRight || side == TailTopLeft;
}

int ChooseTailSide(const BalloonRect& bounds, int anchorX, int anchorY);

// The client area less the margins, and less the tail when it is on top.
BalloonRect ContentRect(const BalloonRect& client, int side);
BalloonRect CloseBoxRect(const BalloonRect& content, int cxSize, int cySize);

// titleWidth < 0 means there is no title.
int TitleRowWidth(bool closeBox, int cxSize, int titleWidth);
int TitleRowHeight(int side, bool closeBox, int cySize, int titleHeight);

// The message wraps between x = 8 and this right edge, about half of the bounds' width.
int MessageWrapRight(int boundsWidth);
// Measured message height as the layout counts it.
int MessageRowHeight(int side, int measuredHeight);

struct BalloonPlacement {
    int x, y, width, height; // the window, in screen coordinates
    BalloonPoint tail[3];    // window coordinates, tail[1] is the tip
};

BalloonPlacement PlaceBalloon(int side, int titleRowWidth, int titleRowHeight, int messageWidth,
                              int messageHeight, int anchorX, int anchorY,
                              const BalloonRect& bounds);

// The rounded body of the speech bubble, in window coordinates.
BalloonRect BodyRect(int side, int width, int height);

// Colours as 0x00BBGGRR, the layout of a COLORREF.
typedef uint32_t BalloonColour;
inline BalloonColour MakeColour(int r, int g, int b) {
    return static_cast<BalloonColour>(r) | static_cast<BalloonColour>(g) << 8 |
           static_cast<BalloonColour>(b) << 16;
}
inline int ColourRed(BalloonColour c) {
    return c & 0xFF;
}
inline int ColourGreen(BalloonColour c) {
    return (c >> 8) & 0xFF;
}
inline int ColourBlue(BalloonColour c) {
    return (c >> 16) & 0xFF;
}

const BalloonColour kGradientTarget = 0x0064C8FF; // RGB(255, 200, 100)

// Band i (0..199) spans [BandTop(i), BandTop(i + 1)) of a client area of the given height.
int BandTop(int band, int height);
BalloonColour GradientBandColour(BalloonColour from, int band);
BalloonColour LightRingColour(BalloonColour back);
BalloonColour DarkRingColour(BalloonColour back, BalloonColour text);

// The close box's next state after the cursor moved inside or outside it.
unsigned CloseStateAfterMove(unsigned state, bool inside);
// Which of the three looks a state shows.
inline unsigned CloseLook(unsigned state) {
    if (state & CloseAway) return CloseAway;
    return (state & ClosePressed) ? ClosePressed : CloseOver;
}
