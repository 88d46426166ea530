// Gif32: a picture control that shows a still picture or plays an animated GIF on a thread of
// its own. Frames are decoded once at load time; the thread only renders them into an off-screen
// canvas that painting copies to the screen.
#pragma once
#include <windows.h>
#include <ole2.h>
#include <olectl.h>

#include "agent/gif/child_window.h"
#include "agent/gif/gif_scanner.h"

// How the animation thread waits out a frame on its wake event; tests put a recorder here.
typedef DWORD(WINAPI* GifFrameWaitFn)(HANDLE wakeEvent, DWORD ms);
extern GifFrameWaitFn g_gifFrameWait;

struct GifFrame {
    IPicture* picture;
    int width;
    int height;
    int left;
    int top;
    int delay;    // hundredths of a second, -1 without a graphic control extension
    int disposal; // 0-7
};

// Frames in stream order; the storage is kept for the next load.
struct GifFrameList {
    GifFrame* items = nullptr;
    int count = 0;
    int capacity = 0;

    bool Append(const GifFrame& frame);
    void ReleaseAll();
    void FreeStorage();
};

class Gif32 : public ChildWindow {
  public:
    Gif32();
    ~Gif32() override;
    LRESULT HandlePaint(HWND window, WPARAM wParam) override;
    LRESULT HandleDestroy() override;

    BOOL Load(LPCSTR name, LPCSTR type, HINSTANCE instance);
    BOOL Load(HGLOBAL memory, DWORD size);
    BOOL PrepareCanvas(int w, int h);
    void SetBackground(COLORREF colour);
    BOOL Draw();
    BOOL IsAnimated() const;
    void StopAnimation();
    void Clear();

    int Width() const { return width; }
    int Height() const { return height; }
    int CurrentFrame() const { return currentFrame; }
    int FrameCount() const { return frames.count; }
    const GifFrame& Frame(int i) const { return frames.items[i]; }
    COLORREF Background() const { return background; }
    BOOL IsReady() const { return ready; }
    bool HasThread() const { return thread != nullptr; }
    // One pixel of the canvas, CLR_INVALID without one; for tests and diagnostics.
    COLORREF CanvasPixel(int x, int y);

  private:
    static DWORD WINAPI AnimationThread(LPVOID object);
    void AnimateFrames();
    void DisposeFrame(const GifFrame& frame);
    void FillCanvas(int left, int top, int right, int bottom);
    void SaveArea(const GifFrame& frame);
    void ReleaseSavedArea();
    void ReleaseCanvas();
    HGLOBAL ExtractFrame(DWORD* streamLength, int* delay, SIZE* size, POINT* origin, int* disposal);
    IPicture* LoadPicture(HGLOBAL memory, DWORD size, bool ownsMemory);
    bool LoadAnimation();
    IPicture* LoadOnlyFrame(HGLOBAL memory, DWORD size);
    bool LoadStill(HGLOBAL memory, DWORD size, GifPath path, const GifFrameRange& only);
    bool RenderPicture(IPicture* picture, int x, int y, int w, int h);
    void JoinAnimation();

    int width = 0;
    int height = 0;
    COLORREF background = 0xFFFFFF;
    int currentFrame = 0;
    GifScanner scanner; // dataSize, cursor, colourTableSize, and data while Load runs
    BOOL isGif = FALSE;
    volatile LONG exitRequested = FALSE;
    BOOL ready = FALSE;
    HDC canvasDC = nullptr;
    HDC savedDC = nullptr;
    HBITMAP savedBitmap = nullptr;
    HGDIOBJ savedPrevBitmap = nullptr;
    HBITMAP canvasBitmap = nullptr;
    HGDIOBJ canvasPrevBitmap = nullptr;
    HANDLE thread = nullptr;
    HANDLE wakeEvent = nullptr;
    IPicture* stillPicture = nullptr;
    RECT stillArea = {0, 0, 0, 0}; // where the still picture goes on the canvas
    GifFrameList frames;
    volatile LONG firstFrameOnly = TRUE;
    // Serialises the thread's drawing with painting and background fills on the UI thread.
    CRITICAL_SECTION canvasLock;
};
