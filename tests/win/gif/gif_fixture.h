// Shared helpers of the Gif32 tests: test pictures, debug output capture, frame waits.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "agent/gif/gif32.h"
#include "tests/win/common/resource_counts.h"
#include "tests/win/common/ui_helpers.h"

// A frame of one colour; a fully transparent frame when colour is -1.
struct TestFrame {
    int left, top, width, height;
    int delay; // -1: no graphic control extension
    int disposal;
    int colour; // palette index: 1 red, 2 green, 3 blue, 4 yellow, 5 magenta, 6 cyan
};

const COLORREF kPaletteColours[] = {RGB(0, 0, 0),    RGB(255, 0, 0),   RGB(0, 255, 0),
                                    RGB(0, 0, 255),  RGB(255, 255, 0), RGB(255, 0, 255),
                                    RGB(0, 255, 255)};

std::vector<uint8_t> MakeGif(int width, int height, const std::vector<TestFrame>& frames);
// Where frame k's graphic control starts in a stream of MakeGif's, every frame before it with its
// own graphic control.
size_t FrameStart(const std::vector<uint8_t>& gif, size_t k);
HGLOBAL ToGlobal(const std::vector<uint8_t>& bytes);

// Everything written with OutputDebugStringA since the last Take.
class DebugCapture {
  public:
    DebugCapture();
    ~DebugCapture();
    std::string Take();
};

// Takes the animation thread's frame waits for as long as it lives: each wait asked for is
// recorded, and the thread is held there until the test lets it go on or the wake event ends it.
class FrameWaits {
  public:
    FrameWaits();
    ~FrameWaits();
    // Until n waits have been asked in all; false if the thread never got there.
    bool Reach(size_t n);
    void Release(); // the frame's time is up
    std::vector<DWORD> Asked();
    // Whether wait i ended by the control's wake event (a stop), not by Release.
    bool EndedByWake(size_t i);

  private:
    static DWORD WINAPI Wait(HANDLE wakeEvent, DWORD ms);
    CRITICAL_SECTION lock;
    HANDLE asked, release;
    std::vector<DWORD> waits;
    std::vector<bool> byWake;
};
