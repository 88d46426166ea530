// Gif32 under Wine: load paths, timing, disposal, stopping and resuming, and clean-up.
#include <gtest/gtest.h>

#include <stdio.h>

#include "tests/win/gif/gif_fixture.h"

namespace {

const COLORREF kRed = RGB(255, 0, 0), kGreen = RGB(0, 255, 0), kBlue = RGB(0, 0, 255),
               kYellow = RGB(255, 255, 0), kMagenta = RGB(255, 0, 255), kCyan = RGB(0, 255, 255);
const COLORREF kBackground = RGB(10, 20, 30);

class GifControl : public ::testing::Test {
  protected:
    void SetUp() override {
        parent = MakeParent();
        ASSERT_TRUE(parent);
        gif = new Gif32;
        ASSERT_TRUE(gif->CreateChild(parent, nullptr, 0, 0, CW_USEDEFAULT, CW_USEDEFAULT, nullptr));
    }
    void TearDown() override {
        delete gif;
        if (IsWindow(parent)) DestroyWindow(parent);
        for (HGLOBAL m : memory)
            GlobalFree(m);
    }
    BOOL LoadBytes(const std::vector<uint8_t>& bytes) {
        memory.push_back(ToGlobal(bytes));
        return gif->Load(memory.back(), (DWORD)bytes.size());
    }
    // Loaded on a known background and playing on: the first Draw of a fresh control shows one
    // frame only (the first wait asked), the second plays continuously from frame 0.
    void Play(const std::vector<uint8_t>& bytes) {
        ASSERT_TRUE(LoadBytes(bytes));
        gif->SetBackground(kBackground);
        ASSERT_TRUE(gif->Draw());
        ASSERT_TRUE(waits.Reach(1));
        ASSERT_TRUE(gif->Draw());
    }
    // The n-th frame shown since Play (0 the first) is on the canvas and waiting out its time.
    bool Showing(size_t n) { return waits.Reach(n + 2); }
    void Next() { waits.Release(); }
    COLORREF At(int x, int y) { return gif->CanvasPixel(x, y); }

    FrameWaits waits;
    HWND parent = nullptr;
    Gif32* gif = nullptr;
    std::vector<HGLOBAL> memory;
};

// A w x h 24-bit bottom-up BMP of one colour.
std::vector<uint8_t> MakeBmp(int w, int h, COLORREF c) {
    int row = (w * 3 + 3) & ~3;
    std::vector<uint8_t> b(54 + row * h, 0);
    BITMAPFILEHEADER* fh = (BITMAPFILEHEADER*)b.data();
    BITMAPINFOHEADER* ih = (BITMAPINFOHEADER*)(b.data() + 14);
    fh->bfType = 0x4D42;
    fh->bfSize = (DWORD)b.size();
    fh->bfOffBits = 54;
    ih->biSize = 40;
    ih->biWidth = w;
    ih->biHeight = h;
    ih->biPlanes = 1;
    ih->biBitCount = 24;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* p = b.data() + 54 + y * row + x * 3;
            p[0] = GetBValue(c);
            p[1] = GetGValue(c);
            p[2] = GetRValue(c);
        }
    return b;
}

// Replaces the image data of frame k (every frame with graphic control) with codes the
// decoder refuses, keeping the block structure whole.
void BreakFrame(std::vector<uint8_t>* gif, size_t k) {
    size_t data = FrameStart(*gif, k) + 8 + 10, end = FrameStart(*gif, k + 1);
    const uint8_t broken[] = {0x02, 0x02, 0xFF, 0xFF, 0x00};
    gif->erase(gif->begin() + data, gif->begin() + end);
    gif->insert(gif->begin() + data, broken, broken + sizeof broken);
}

} // namespace

TEST_F(GifControl, DrawBeforeLoadSaysSoAndRefuses) {
    DebugCapture debug;
    EXPECT_FALSE(gif->Draw());
    EXPECT_EQ("Call one of the Gif32::Load() member functions before calling Draw()\n",
              debug.Take());
    gif->SetBackground(kRed); // nothing to fill yet
    EXPECT_EQ(CLR_INVALID, At(0, 0));
    EXPECT_FALSE(gif->IsReady());
}

TEST_F(GifControl, LoadFailuresLeaveTheControlNotReady) {
    DebugCapture debug;
    EXPECT_FALSE(gif->Load((HGLOBAL) nullptr, 10));
    EXPECT_EQ("Load: Error locking memory\n", debug.Take());

    EXPECT_FALSE(gif->Load(MAKEINTRESOURCEA(999), "GIF", GetModuleHandleA(nullptr)));
    EXPECT_EQ("Load (resource): Error loading resource \n", debug.Take());
    // Read and copied, but no picture: the Draw that follows says so too.
    EXPECT_FALSE(gif->Load(MAKEINTRESOURCEA(142), "GIF", GetModuleHandleA(nullptr)));
    EXPECT_EQ("Call one of the Gif32::Load() member functions before calling Draw()\n",
              debug.Take());

    std::vector<uint8_t> noFrame = MakeGif(8, 8, {{0, 0, 8, 8, 0, 1, 1}});
    noFrame.resize(noFrame.size() - 6); // the only frame cut short
    EXPECT_FALSE(LoadBytes(noFrame));
    EXPECT_FALSE(LoadBytes(std::vector<uint8_t>(100, 0xAB)));
    EXPECT_FALSE(LoadBytes({'G', 'I', 'F'}));
    EXPECT_FALSE(gif->IsReady());
    EXPECT_EQ("", debug.Take());

    // A screen too big for a canvas: refused, and the window keeps its size. (Counted after
    // one load, so that what the picture decoder keeps for the process is there already.)
    std::vector<uint8_t> small = MakeGif(2, 2, {{0, 0, 2, 2, 0, 1, 1}, {0, 0, 2, 2, 0, 1, 2}});
    ASSERT_TRUE(LoadBytes(small));
    gif->Clear();
    DWORD gdi = GdiObjectCount();
    EXPECT_FALSE(LoadBytes(MakeGif(60000, 60000, {{0, 0, 2, 2, 0, 1, 1}, {0, 0, 2, 2, 0, 1, 2}})));
    RECT r;
    GetClientRect(gif->Window(), &r);
    EXPECT_EQ(2, r.right);
    EXPECT_EQ(2, r.bottom);
    EXPECT_FALSE(gif->IsReady());
    gif->Clear();
    EXPECT_EQ(gdi, GdiObjectCount());

    // A byte count beyond the memory block is not read past the block.
    std::vector<uint8_t> good = MakeGif(8, 8, {{0, 0, 8, 8, 0, 1, 1}, {0, 0, 8, 8, 0, 1, 2}});
    HGLOBAL block = ToGlobal(good);
    memory.push_back(block);
    EXPECT_TRUE(gif->Load(block, (DWORD)good.size() + 100000));
    EXPECT_EQ(2, gif->FrameCount());
}

TEST_F(GifControl, StillPicturesAreDrawnOnceWithoutAThread) {
    int threads = ThreadCount();
    ASSERT_TRUE(LoadBytes(MakeBmp(8, 6, kCyan)));
    EXPECT_EQ(8, gif->Width());
    EXPECT_EQ(6, gif->Height());
    EXPECT_FALSE(gif->IsAnimated());
    EXPECT_TRUE(gif->Draw());
    EXPECT_FALSE(gif->HasThread());
    EXPECT_EQ(kCyan, At(3, 3));
    EXPECT_EQ(threads, ThreadCount());

    // One frame: still, at the logical screen size; the same with a broken frame behind it,
    // which the picture loader would refuse whole.
    std::vector<uint8_t> one = MakeGif(20, 10, {{2, 2, 4, 4, 0, 1, 3}});
    std::vector<uint8_t> cut = MakeGif(20, 10, {{2, 2, 4, 4, 0, 1, 3}, {0, 0, 20, 10, 0, 1, 2}});
    cut.resize(cut.size() - 10);
    for (const std::vector<uint8_t>* bytes : {&one, &cut}) {
        ASSERT_TRUE(LoadBytes(*bytes));
        EXPECT_EQ(20, gif->Width());
        EXPECT_EQ(10, gif->Height());
        RECT r;
        GetClientRect(gif->Window(), &r);
        EXPECT_EQ(20, r.right);
        EXPECT_EQ(10, r.bottom);
        EXPECT_FALSE(gif->IsAnimated());
        gif->SetBackground(kBackground);
        EXPECT_TRUE(gif->Draw());
        EXPECT_FALSE(gif->HasThread());
        EXPECT_EQ(kBlue, At(3, 3));
        EXPECT_EQ(kBackground, At(15, 8));
    }
}

TEST_F(GifControl, FramesTheLoaderRefusesAreDropped) {
    std::vector<uint8_t> bytes =
        MakeGif(6, 6, {{0, 0, 6, 6, 0, 1, 1}, {0, 0, 6, 6, 0, 1, 2}, {0, 0, 6, 6, 0, 1, 3}});
    BreakFrame(&bytes, 1);
    ASSERT_TRUE(LoadBytes(bytes));
    ASSERT_EQ(2, gif->FrameCount());
    EXPECT_TRUE(gif->IsAnimated());

    // Only one frame left: ready, but neither animated nor still.
    BreakFrame(&bytes, 2);
    ASSERT_TRUE(LoadBytes(bytes));
    EXPECT_EQ(1, gif->FrameCount());
    EXPECT_TRUE(gif->IsReady());
    EXPECT_FALSE(gif->IsAnimated());
    gif->SetBackground(kBackground);
    EXPECT_FALSE(gif->Draw());
    EXPECT_FALSE(gif->HasThread());
    EXPECT_EQ(kBackground, At(2, 2));

    BreakFrame(&bytes, 0);
    EXPECT_FALSE(LoadBytes(bytes));
    EXPECT_FALSE(gif->IsReady());
}

TEST_F(GifControl, FirstDrawShowsOneFrameTheNextPlaysOn) {
    int threads = ThreadCount();
    ASSERT_TRUE(LoadBytes(MakeGif(4, 4, {{0, 0, 4, 4, 0, 1, 1}, {0, 0, 4, 4, 0, 1, 2}})));
    EXPECT_TRUE(gif->IsAnimated());
    ASSERT_TRUE(gif->Draw());
    ASSERT_TRUE(waits.Reach(1));
    EXPECT_EQ(kRed, At(0, 0));
    // Its time up, the run ends without disposing the frame or moving on.
    Next();
    EXPECT_TRUE(WaitFor([&] { return ThreadCount() == threads; }, 5000));
    EXPECT_EQ(1u, waits.Asked().size());
    EXPECT_EQ(kRed, At(0, 0));
    EXPECT_EQ(0, gif->CurrentFrame());

    ASSERT_TRUE(gif->Draw());
    ASSERT_TRUE(waits.Reach(2));
    EXPECT_EQ(kRed, At(0, 0));
    Next();
    ASSERT_TRUE(waits.Reach(3));
    EXPECT_EQ(kGreen, At(0, 0));
    Next();
    ASSERT_TRUE(waits.Reach(4));
    EXPECT_EQ(kRed, At(0, 0));
}

// Hundredths of a second, times ten; under 5 (and no graphic control at all) it is 100 ms.
TEST_F(GifControl, FrameWaitsFollowTheDelays) {
    const int delays[] = {0, 4, 5, 50, 200, -1};
    const DWORD expected[] = {100, 100, 50, 500, 2000, 100};
    std::vector<TestFrame> frames;
    for (int i = 0; i < 6; ++i)
        frames.push_back({0, 0, 2, 2, delays[i], 1, i + 1});
    Play(MakeGif(2, 2, frames));
    for (size_t n = 0; n < 12; ++n) {
        ASSERT_TRUE(Showing(n)) << n;
        EXPECT_EQ(kPaletteColours[n % 6 + 1], At(0, 0)) << n;
        Next();
    }
    std::vector<DWORD> asked = waits.Asked();
    ASSERT_GE(asked.size(), 13u);
    EXPECT_EQ(100u, asked[0]) << "the first-frame showing";
    for (size_t n = 0; n < 12; ++n)
        EXPECT_EQ(expected[n % 6], asked[n + 1]) << "frame " << n % 6 << " delay " << delays[n % 6];
}

TEST_F(GifControl, DisposalToBackgroundAndToPrevious) {
    Play(MakeGif(20, 20,
                 {{0, 0, 20, 20, 0, 1, 1},
                  {2, 2, 6, 6, 0, 2, 3},
                  {10, 10, 6, 6, 0, 3, 2},
                  {0, 0, 2, 2, 30, 1, 4}}));
    ASSERT_TRUE(Showing(0));
    Next();
    ASSERT_TRUE(Showing(1));
    EXPECT_EQ(kBlue, At(3, 3));
    Next();
    // While the third frame shows, the second has been removed to the background.
    ASSERT_TRUE(Showing(2));
    EXPECT_EQ(kBackground, At(3, 3));
    EXPECT_EQ(kRed, At(18, 18));
    // Each frame sits at its own place and size.
    EXPECT_EQ(kGreen, At(10, 10));
    EXPECT_EQ(kGreen, At(15, 15));
    EXPECT_EQ(kRed, At(16, 16));
    EXPECT_EQ(kRed, At(9, 9));
    Next();
    // While the fourth shows, the area under the third is back as it was.
    ASSERT_TRUE(Showing(3));
    EXPECT_EQ(kYellow, At(0, 0));
    EXPECT_EQ(kRed, At(11, 11));
    EXPECT_EQ(kBackground, At(3, 3));
}

TEST_F(GifControl, CanvasIsClearedAfterTheLastFrame) {
    Play(MakeGif(16, 16, {{0, 0, 4, 4, 10, 1, 1}, {10, 10, 4, 4, 10, 1, 3}}));
    ASSERT_TRUE(Showing(0));
    Next();
    ASSERT_TRUE(Showing(1));
    EXPECT_EQ(kBlue, At(11, 11));
    EXPECT_EQ(kRed, At(1, 1)) << "the first frame stays while the second shows";
    Next();
    ASSERT_TRUE(Showing(2));
    EXPECT_EQ(kBackground, At(11, 11));
    EXPECT_EQ(kRed, At(1, 1));
}

TEST_F(GifControl, StopEndsALongWaitAndDrawResumesAfterDisposingTheStoppedFrame) {
    int threads = ThreadCount();
    // The second frame restores what was under it; the third lies elsewhere.
    Play(MakeGif(8, 8, {{0, 0, 8, 8, 10, 1, 1}, {2, 2, 4, 4, 200, 3, 3}, {6, 6, 2, 2, 10, 1, 2}}));
    ASSERT_TRUE(Showing(0));
    Next();
    ASSERT_TRUE(Showing(1));
    EXPECT_EQ(kBlue, At(3, 3));
    gif->StopAnimation();
    EXPECT_TRUE(waits.EndedByWake(waits.Asked().size() - 1)) << "the stop did not end the wait";
    EXPECT_FALSE(gif->HasThread());
    EXPECT_EQ(threads, ThreadCount());
    EXPECT_EQ(1, gif->CurrentFrame());
    EXPECT_EQ(kBlue, At(3, 3));

    // Resumed at the same frame, which waits its whole two seconds again; its area is restored
    // first, so what it saves is the red under it, not its own blue.
    size_t stopped = waits.Asked().size();
    ASSERT_TRUE(gif->Draw());
    ASSERT_TRUE(waits.Reach(stopped + 1));
    EXPECT_EQ(2000u, waits.Asked()[stopped]);
    EXPECT_EQ(1, gif->CurrentFrame());
    EXPECT_EQ(kBlue, At(3, 3));
    Next();
    ASSERT_TRUE(waits.Reach(stopped + 2));
    EXPECT_EQ(kGreen, At(6, 6));
    EXPECT_EQ(kRed, At(3, 3));
    gif->StopAnimation();
    EXPECT_TRUE(waits.EndedByWake(stopped + 1));
}

TEST_F(GifControl, DestroyingTheWindowStopsTheThread) {
    int threads = ThreadCount();
    Play(MakeGif(4, 4, {{0, 0, 4, 4, 100, 1, 1}, {0, 0, 4, 4, 100, 1, 2}}));
    EXPECT_TRUE(gif->HasThread());
    EXPECT_EQ(threads + 1, ThreadCount());
    HWND control = gif->Window();
    WNDPROC subclass = (WNDPROC)GetWindowLongPtrA(control, GWLP_WNDPROC);
    EXPECT_EQ((WNDPROC)ChildWindow::ControlWindowProc, subclass);
    DestroyWindow(parent);
    EXPECT_FALSE(IsWindow(control));
    EXPECT_FALSE(gif->HasThread());
    EXPECT_EQ(threads, ThreadCount());
    EXPECT_EQ(nullptr, gif->Window());
    // The object stays usable: a new load fails quietly for want of a window.
    EXPECT_FALSE(LoadBytes(MakeGif(4, 4, {{0, 0, 4, 4, 0, 1, 1}, {0, 0, 4, 4, 0, 1, 2}})));
    gif->Clear();
}

// The counters themselves must see a leak, or their agreement below proves nothing.
TEST(Counters, SeeLeakedObjects) {
    DWORD handles = HandleCount();
    DWORD gdi = GdiObjectCount();
    HANDLE events[10];
    HBRUSH brushes[10];
    for (int i = 0; i < 10; ++i) {
        events[i] = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        brushes[i] = CreateSolidBrush(RGB(i, i, i));
    }
    EXPECT_EQ(handles + 10, HandleCount());
    EXPECT_EQ(gdi + 10, GdiObjectCount());
    for (int i = 0; i < 10; ++i) {
        CloseHandle(events[i]);
        DeleteObject(brushes[i]);
    }
    EXPECT_EQ(handles, HandleCount());
    EXPECT_EQ(gdi, GdiObjectCount());
}

TEST_F(GifControl, ThousandCyclesLeaveNoThreadsHandlesOrGdiObjects) {
    std::vector<uint8_t> bytes =
        MakeGif(8, 8, {{0, 0, 8, 8, 0, 2, 1}, {2, 2, 4, 4, 0, 3, 2}, {0, 0, 8, 8, 0, 1, 3}});
    HGLOBAL block = ToGlobal(bytes);
    memory.push_back(block);
    // One round first, so that what the system keeps once (OLE, the picture decoder) is there.
    ASSERT_TRUE(gif->Load(block, (DWORD)bytes.size()));
    gif->Draw();
    gif->Clear();
    int threads = ThreadCount();
    DWORD handles = HandleCount();
    DWORD gdi = GdiObjectCount();
    for (int i = 0; i < 1000; ++i) {
        ASSERT_TRUE(gif->Load(block, (DWORD)bytes.size()));
        ASSERT_TRUE(gif->Draw());
        if (i % 2) {
            ASSERT_TRUE(gif->Draw()); // a running animation replaced
        }
        if (i % 3 == 0) Sleep(0);
        gif->StopAnimation();
        gif->Clear();
    }
    EXPECT_EQ(threads, ThreadCount());
    EXPECT_EQ(handles, HandleCount());
    EXPECT_EQ(gdi, GdiObjectCount());
    printf("threads %d, handles %lu, GDI objects %lu\n", threads, handles, gdi);
}

TEST_F(GifControl, LogoResourceLoadsTenFrames) {
    ASSERT_TRUE(gif->Load(MAKEINTRESOURCEA(141), "GIF", GetModuleHandleA(nullptr)));
    EXPECT_EQ(48, gif->Width());
    EXPECT_EQ(48, gif->Height());
    ASSERT_EQ(10, gif->FrameCount());
    EXPECT_TRUE(gif->IsAnimated());
    EXPECT_EQ(200, gif->Frame(9).delay); // placements and delays: GifLogo in the native tests
    // The resource load shows the first frame at once: the coin's centre is not background.
    EXPECT_TRUE(WaitFor([&] { return At(24, 24) != gif->Background(); }, 500));
    EXPECT_EQ(gif->Background(), At(0, 0));
}
