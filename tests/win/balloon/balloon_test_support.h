// Helpers for the balloon tests: counting GDI objects, reading the screen.
#pragma once
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/win/common/resource_counts.h"
#include "tests/win/common/ui_helpers.h"

std::vector<HWND> OpenBalloons();

// The balloon as the layout rules make it, worked out here with this test's own fonts and
// arithmetic: window, tail and body in window coordinates, the rest in client coordinates.
struct ExpectedBalloon {
    bool tailOnTop;
    RECT window;   // on screen
    POINT tail[3]; // the tip second
    RECT body;     // the rounded rectangle
    RECT content;
    RECT closeBox;
    RECT title;   // the title is centred in it, on one line at its top
    RECT message; // the message wraps in it
};
ExpectedBalloon Expect(const char* title, const char* text, int anchorX, int anchorY);
HFONT BalloonFont(int weight); // "ms sans serif", height -10
// Two words that measure exactly pixels wide on one line in the message font; "" if none found.
std::string TextOfWidth(int pixels);
bool TailOnTopFor(int anchorY); // the anchor lies in the upper half of the screen
RECT CloseBoxOf(HWND balloon, bool tailOnTop);

struct Screenshot {
    int width = 0, height = 0;
    std::vector<COLORREF> pixels; // row-major, top row first

    bool Take(); // the whole screen
    bool Take(int left, int top, int w, int h);
    COLORREF At(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
    bool operator==(const Screenshot& o) const { return width == o.width && pixels == o.pixels; }
};

std::string ColourText(COLORREF c);

#include <gtest/gtest.h>

// Every test starts and must end with no balloon window and no balloon object left.
class BalloonTest : public ::testing::Test {
  protected:
    void SetUp() override {
        HideAllBalloons_();
        ASSERT_EQ(0u, OpenBalloons().size());
        ASSERT_EQ(0, LiveObjects_());
    }
    void TearDown() override {
        HideAllBalloons_();
        Pump(20);
        EXPECT_EQ(0u, OpenBalloons().size()) << "a balloon window outlived its test";
        EXPECT_EQ(0, LiveObjects_()) << "a balloon object outlived its window";
    }

  private:
    static void HideAllBalloons_();
    static long LiveObjects_();
};

// The agent's own balloon: information icon, close box, no owner.
const UINT kInformationIcon = 32516;
void ShowTestBalloon(const char* title, const char* text, int x, int y, UINT timeoutMs,
                     HBITMAP normal = nullptr, HBITMAP hot = nullptr, HBITMAP pressed = nullptr);
// The balloon opened last.
HWND NewestBalloon();
LRESULT Mouse(HWND w, UINT message, int x, int y);
