#include "agent/balloon/balloon_geometry.h"

namespace {

const int kSideMargin = 8, kTopMargin = 4, kBottomMargin = 8;

int Clamp(int v, int low, int high) {
    if (v < low) return low;
    if (v > high) return high;
    return v;
}

int Blend(int from, int to, int percent) {
    return ((100 - percent) * from + percent * to) / 100;
}

} // namespace

int ChooseTailSide(const BalloonRect& bounds, int anchorX, int anchorY) {
    bool left = anchorX < (bounds.left + bounds.right) / 2;
    bool upper = anchorY < (bounds.top + bounds.bottom) / 2;
    if (upper) return left ? TailTopLeft : TailTopRight;
    return left ? TailBottomLeft : TailBottomRight;
}

BalloonRect ContentRect(const BalloonRect& client, int side) {
    BalloonRect r = {client.left + kSideMargin, client.top + kTopMargin, client.right - kSideMargin,
                     client.bottom - kBottomMargin};
    if (TailOnTop(side)) r.top += kTailHeight;
    return r;
}

BalloonRect CloseBoxRect(const BalloonRect& content, int cxSize, int cySize) {
    BalloonRect r = {content.right - cxSize + 4, content.top, content.right,
                     content.top + cySize - 4};
    return r;
}

int TitleRowWidth(bool closeBox, int cxSize, int titleWidth) {
    int width = 6;
    if (closeBox) width += 8 + cxSize;
    if (titleWidth >= 0) width += 8 + titleWidth;
    return width;
}

int TitleRowHeight(int side, bool closeBox, int cySize, int titleHeight) {
    bool top = TailOnTop(side);
    int height = top ? kTopMargin + kTailHeight : kTopMargin;
    if (closeBox && cySize > height) height = cySize;
    if (titleHeight > height) height = titleHeight;
    return height + (top ? kTailHeight : kTopMargin);
}

int MessageWrapRight(int boundsWidth) {
    return boundsWidth - (boundsWidth - 8) / 2;
}

int MessageRowHeight(int side, int measuredHeight) {
    return TailOnTop(side) ? measuredHeight - kTailHeight : measuredHeight;
}

BalloonRect BodyRect(int side, int width, int height) {
    if (TailOnTop(side)) {
        BalloonRect r = {0, kTailHeight, width, height};
        return r;
    }
    BalloonRect r = {0, 0, width, height - kTailHeight};
    return r;
}

BalloonPlacement PlaceBalloon(int side, int titleRowWidth, int titleRowHeight, int messageWidth,
                              int messageHeight, int anchorX, int anchorY,
                              const BalloonRect& bounds) {
    BalloonPlacement p;
    int contentWidth = titleRowWidth > messageWidth ? titleRowWidth : messageWidth;
    int contentHeight = titleRowHeight + messageHeight + 8;
    p.width = contentWidth + 16;
    p.height = contentHeight + 36;
    int w = p.width, h = p.height;
    int q = (w - 20) / 4;
    switch (side) {
    case TailTopRight:
        p.tail[0] = {3 * q, 21}, p.tail[1] = {3 * q + 20, 1}, p.tail[2] = {3 * q + 20, 21};
        break;
    case TailTopLeft:
        p.tail[0] = {q + 20, 21}, p.tail[1] = {q, 1}, p.tail[2] = {q, 21};
        break;
    case TailBottomRight:
        p.tail[0] = {3 * q, h - 22}, p.tail[1] = {3 * q + 20, h - 2};
        p.tail[2] = {3 * q + 20, h - 22};
        break;
    default:
        p.tail[0] = {q + 20, h - 22}, p.tail[1] = {q, h - 2}, p.tail[2] = {q, h - 22};
        break;
    }
    for (BalloonPoint& pt : p.tail)
        pt.x = Clamp(pt.x, kSideMargin, w - kSideMargin);

    p.x = anchorX - p.tail[1].x;
    p.y = anchorY - p.tail[1].y;
    int dx = 0;
    if (p.x < bounds.left)
        dx = bounds.left - p.x;
    else if (p.x + w >= bounds.right)
        dx = bounds.right - (p.x + w);
    int dy = 0;
    if (p.y + kTailHeight < bounds.top)
        dy = bounds.top - p.y - kTailHeight;
    else if (p.y + h - kTailHeight >= bounds.bottom)
        dy = bounds.bottom - p.y - h + kTailHeight;
    p.x += dx;
    p.y += dy;
    // The tip keeps pointing at the anchor's x; its height stays with the body.
    p.tail[1].x -= dx;
    return p;
}

int BandTop(int band, int height) {
    return static_cast<int>(static_cast<int64_t>(band) * height / kGradientBands);
}

BalloonColour GradientBandColour(BalloonColour from, int band) {
    // Whole percent, worked in integers so that a band near the end is not rounded one short.
    int percent = 100 * band / kGradientBands;
    return MakeColour(Blend(ColourRed(from), ColourRed(kGradientTarget), percent),
                      Blend(ColourGreen(from), ColourGreen(kGradientTarget), percent),
                      Blend(ColourBlue(from), ColourBlue(kGradientTarget), percent));
}

BalloonColour LightRingColour(BalloonColour back) {
    return MakeColour(ColourRed(back) / 3 + 170, ColourGreen(back) / 3 + 170,
                      ColourBlue(back) / 3 + 170);
}

BalloonColour DarkRingColour(BalloonColour back, BalloonColour text) {
    return MakeColour(2 * (ColourRed(back) / 3) + ColourRed(text) / 3,
                      2 * (ColourGreen(back) / 3) + ColourGreen(text) / 3,
                      2 * (ColourBlue(back) / 3) + ColourBlue(text) / 3);
}

unsigned CloseStateAfterMove(unsigned state, bool inside) {
    if (!inside) return CloseAway | (state & ClosePressed);
    return state & ClosePressed;
}
