// The close box's keyed copy, made without msimg32.dll, against the system's own TransparentBlt:
// the same pixels, on the balloon's pictures and on a pattern with the key scattered through it.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "agent/balloon/keyed_blit.h"
#include "tests/win/common/file_helpers.h"

namespace {

const int kWidth = 40, kHeight = 30;
const int kAtX = 7, kAtY = 5; // where the picture goes on the backdrop

// A screen-compatible picture in a memory DC, as the balloon keeps its bitmaps.
struct Canvas {
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bitmap;
    HGDIOBJ old;
    Canvas(int w, int h) : bitmap(CreateCompatibleBitmap(screen, w, h)) {
        old = SelectObject(dc, bitmap);
    }
    explicit Canvas(HBITMAP picture) : bitmap(picture) { old = SelectObject(dc, bitmap); }
    ~Canvas() {
        SelectObject(dc, old);
        DeleteObject(bitmap);
        DeleteDC(dc);
        ReleaseDC(nullptr, screen);
    }
    std::vector<COLORREF> Pixels(int w, int h) const {
        std::vector<COLORREF> out;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                out.push_back(GetPixel(dc, x, y));
        return out;
    }
};

// A backdrop that differs from pixel to pixel, so that any pixel taken from the wrong place shows.
void PaintBackdrop(const Canvas& c, int seed) {
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            SetPixel(c.dc, x, y,
                     RGB((x * 6 + seed) & 255, (y * 8 + seed * 3) & 255, (x * y) & 255));
}

// The picture drawn both ways onto the same backdrop; the result of each.
void DrawBothWays(HDC source, int w, int h, COLORREF key, int seed, std::vector<COLORREF>* ours,
                  std::vector<COLORREF>* system) {
    Canvas a(kWidth, kHeight), b(kWidth, kHeight);
    PaintBackdrop(a, seed);
    PaintBackdrop(b, seed);
    ASSERT_TRUE(KeyedBlit(a.dc, kAtX, kAtY, w, h, source, key));
    ASSERT_TRUE(TransparentBlt(b.dc, kAtX, kAtY, w, h, source, 0, 0, w, h, key));
    *ours = a.Pixels(kWidth, kHeight);
    *system = b.Pixels(kWidth, kHeight);
}

int Differing(const std::vector<COLORREF>& a, const std::vector<COLORREF>& b) {
    int n = 0;
    for (size_t i = 0; i < a.size() && i < b.size(); ++i)
        n += a[i] != b[i];
    return n + static_cast<int>(a.size() > b.size() ? a.size() - b.size() : b.size() - a.size());
}

} // namespace

TEST(KeyedBlit, ThePatternLooksAsTransparentBltDrawsIt) {
    const COLORREF key = RGB(255, 0, 255);
    const int w = 16, h = 14;
    Canvas picture(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            SetPixel(picture.dc, x, y,
                     (x + 2 * y) % 3 == 0 ? key : RGB(x * 15, 200 - y * 10, (x ^ y) * 16));
    SetPixel(picture.dc, 3, 3, RGB(254, 0, 255)); // one step from the key: drawn
    for (int seed : {0, 77, 200}) {
        std::vector<COLORREF> ours, system;
        DrawBothWays(picture.dc, w, h, key, seed, &ours, &system);
        EXPECT_EQ(0, Differing(ours, system)) << "seed " << seed;
        // And in plain words: the backdrop shows through the key, the picture elsewhere.
        Canvas backdrop(kWidth, kHeight);
        PaintBackdrop(backdrop, seed);
        EXPECT_EQ(GetPixel(backdrop.dc, kAtX, kAtY), ours[kAtY * kWidth + kAtX]);
        EXPECT_EQ(GetPixel(picture.dc, 1, 0), ours[kAtY * kWidth + kAtX + 1]);
        EXPECT_EQ(GetPixel(picture.dc, 3, 3), ours[(kAtY + 3) * kWidth + kAtX + 3]);
        EXPECT_EQ(GetPixel(backdrop.dc, 0, 0), ours[0]) << "outside the picture";
    }
}

// The three close-box pictures the agent ships, keyed by their top-left colour as the balloon
// keys them.
TEST(KeyedBlit, TheShippedCloseBoxesLookAsTransparentBltDrawsThem) {
    for (const char* name : {"close137.bmp", "close138.bmp", "close139.bmp"}) {
        std::string path = BuildFolder() + "\\agent\\art\\" + name;
        HBITMAP bitmap = static_cast<HBITMAP>(
            LoadImageA(nullptr, path.c_str(), IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE));
        ASSERT_TRUE(bitmap) << path;
        BITMAP info;
        ASSERT_TRUE(GetObjectA(bitmap, sizeof info, &info));
        Canvas picture(bitmap);
        COLORREF key = GetPixel(picture.dc, 0, 0);
        std::vector<COLORREF> ours, system;
        DrawBothWays(picture.dc, info.bmWidth, info.bmHeight, key, 31, &ours, &system);
        EXPECT_EQ(0, Differing(ours, system)) << name;
    }
}
