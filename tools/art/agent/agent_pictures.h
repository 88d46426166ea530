// The agent's pictures: tray animation frames, class icon images and balloon close boxes.
#pragma once

#include "tools/art/common/canvas.h"

namespace art {

const int kTrayFrames = 28; // frame 0 rests; 1..27 loop one full turn of the arrow

// A 16x16 tray frame; `frame` wraps into 0..kTrayFrames-1.
Canvas DrawTrayFrame(int frame);

// The class icon at `size` pixels; `classic` draws hard edges in the 16 classic colours.
Canvas DrawClassIcon(int size, bool classic);

enum CloseState { CloseNormal, CloseHot, ClosePressed };
const int kCloseWidth = 16, kCloseHeight = 14;
// Opaque picture whose top-left pixel holds the key colour that is drawn transparent.
Canvas DrawCloseBox(CloseState state);
const Rgb kCloseKey = {255, 0, 255};

} // namespace art
