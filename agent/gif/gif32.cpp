// Gif32's drawing side: the canvas, painting, and the animation thread that plays the frames
// gif32_frames.cpp decoded.
#include "agent/gif/gif32.h"

#include "agent/owners.h"

namespace {

// The disposal methods that change the canvas after a frame's delay.
const int kDisposeToBackground = 2;
const int kDisposeToPrevious = 3;

// Frames without a usable delay (none given, or under 5 hundredths) show for 100 ms.
DWORD FrameWait(int delay) {
    if (delay < 5) return 100;
    return static_cast<DWORD>(delay) * 10;
}

class CanvasGuard {
  public:
    explicit CanvasGuard(CRITICAL_SECTION* lock) : lock(lock) { EnterCriticalSection(lock); }
    ~CanvasGuard() { LeaveCriticalSection(lock); }

  private:
    CRITICAL_SECTION* lock;
};

} // namespace

GifFrameWaitFn g_gifFrameWait = WaitForSingleObject;

Gif32::Gif32() {
    InitializeCriticalSection(&canvasLock);
    wakeEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
}

Gif32::~Gif32() {
    Clear();
    if (wakeEvent) CloseHandle(wakeEvent);
    wakeEvent = nullptr;
    frames.FreeStorage();
    DeleteCriticalSection(&canvasLock);
}

LRESULT Gif32::HandlePaint(HWND paintWindow, WPARAM) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(paintWindow, &ps);
    if (dc && canvasDC) {
        CanvasGuard guard(&canvasLock);
        BitBlt(dc, 0, 0, width, height, canvasDC, 0, 0, SRCCOPY);
    }
    EndPaint(paintWindow, &ps);
    return 0;
}

LRESULT Gif32::HandleDestroy() {
    StopAnimation();
    return ChildWindow::HandleDestroy();
}

BOOL Gif32::PrepareCanvas(int w, int h) {
    // Without a window there is nothing to size, and a null window would mean the screen.
    if (!window) return FALSE;
    {
        ScopedGetDC dc(window);
        if (!dc.Get() || !MakeBitmapDC(dc.Get(), w, h, canvasDC, canvasBitmap, canvasPrevBitmap))
            return FALSE;
    }
    background = GetSysColor(COLOR_BTNFACE);
    // Filled with the background itself, so disposed areas match the untouched canvas.
    FillCanvas(0, 0, w, h);
    // Sized only once there is a canvas: a picture too big for one leaves the window as it was
    // instead of an empty window spread over its parent.
    SetWindowPos(window, nullptr, 0, 0, w, h, SWP_NOMOVE | SWP_NOZORDER);
    ready = TRUE;
    return TRUE;
}

void Gif32::FillCanvas(int left, int top, int right, int bottom) {
    ScopedBrush brush(CreateSolidBrush(background));
    if (!brush.Held()) return;
    RECT r = {left, top, right, bottom};
    FillRect(canvasDC, &r, brush.Get());
}

void Gif32::SetBackground(COLORREF colour) {
    if (!ready) return;
    CanvasGuard guard(&canvasLock);
    background = colour;
    FillCanvas(0, 0, width, height);
}

BOOL Gif32::IsAnimated() const {
    return isGif && frames.count > 1;
}

bool Gif32::RenderPicture(IPicture* picture, int x, int y, int w, int h) {
    OLE_XSIZE_HIMETRIC hmWidth = 0;
    OLE_YSIZE_HIMETRIC hmHeight = 0;
    picture->get_Width(&hmWidth);
    picture->get_Height(&hmHeight);
    return SUCCEEDED(
        picture->Render(canvasDC, x, y, w, h, 0, hmHeight, hmWidth, -hmHeight, nullptr));
}

BOOL Gif32::Draw() {
    if (!ready) {
        OutputDebugStringA(
            "Call one of the Gif32::Load() member functions before calling Draw()\n");
        return FALSE;
    }
    if (IsAnimated()) {
        // One run at a time: an earlier run (the first-frame showing of a resource load, or a
        // running animation) is ended and joined, and the new run plays on continuously.
        if (thread) {
            StopAnimation();
            firstFrameOnly = FALSE;
        }
        HANDLE started =
            wakeEvent ? CreateThread(nullptr, 0, AnimationThread, this, CREATE_SUSPENDED, nullptr)
                      : nullptr;
        if (!started) {
            OutputDebugStringA("Draw: Couldn't start a GIF animation thread\n");
            return FALSE;
        }
        thread = started;
        ResumeThread(started);
        return TRUE;
    }
    if (!stillPicture) return FALSE;
    bool drawn;
    {
        CanvasGuard guard(&canvasLock);
        drawn = RenderPicture(stillPicture, stillArea.left, stillArea.top,
                              stillArea.right - stillArea.left, stillArea.bottom - stillArea.top);
    }
    if (drawn) InvalidateRect(window, nullptr, FALSE);
    return drawn;
}

void Gif32::JoinAnimation() {
    // Only the joiner closes the handle: the thread never does, so it is closed exactly once.
    if (!thread) return;
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    thread = nullptr;
}

void Gif32::StopAnimation() {
    InterlockedExchange(&exitRequested, TRUE);
    if (wakeEvent) SetEvent(wakeEvent);
    JoinAnimation();
    if (wakeEvent) ResetEvent(wakeEvent);
    InterlockedExchange(&exitRequested, FALSE);
}

DWORD WINAPI Gif32::AnimationThread(LPVOID object) {
    static_cast<Gif32*>(object)->AnimateFrames();
    return 0;
}

void Gif32::ReleaseSavedArea() {
    FreeBitmapDC(savedDC, savedBitmap, savedPrevBitmap);
}

void Gif32::ReleaseCanvas() {
    FreeBitmapDC(canvasDC, canvasBitmap, canvasPrevBitmap);
}

// Kept until the frame is disposed of; without it the frame is drawn anyway and its area is
// simply not restored.
void Gif32::SaveArea(const GifFrame& f) {
    ReleaseSavedArea();
    if (MakeBitmapDC(canvasDC, f.width, f.height, savedDC, savedBitmap, savedPrevBitmap))
        BitBlt(savedDC, 0, 0, f.width, f.height, canvasDC, f.left, f.top, SRCCOPY);
}

void Gif32::DisposeFrame(const GifFrame& f) {
    if (f.disposal == kDisposeToBackground) {
        FillCanvas(f.left, f.top, f.left + f.width, f.top + f.height);
    } else if (f.disposal == kDisposeToPrevious && savedDC) {
        BitBlt(canvasDC, f.left, f.top, f.width, f.height, savedDC, 0, 0, SRCCOPY);
        ReleaseSavedArea();
    }
}

void Gif32::AnimateFrames() {
    if (frames.count == 0) return;
    if (currentFrame < 0 || currentFrame >= frames.count) currentFrame = 0;
    {
        CanvasGuard guard(&canvasLock);
        DisposeFrame(frames.items[currentFrame]);
    }
    while (!exitRequested) {
        const GifFrame& f = frames.items[currentFrame];
        if (f.picture) {
            bool drawn;
            {
                CanvasGuard guard(&canvasLock);
                if (f.disposal == kDisposeToPrevious) SaveArea(f);
                drawn = RenderPicture(f.picture, f.left, f.top, f.width, f.height);
            }
            if (drawn) InvalidateRect(window, nullptr, FALSE);
            if (exitRequested) break;
            g_gifFrameWait(wakeEvent, FrameWait(f.delay));
            if (firstFrameOnly) {
                firstFrameOnly = FALSE;
                break;
            }
            if (exitRequested) break;
            CanvasGuard guard(&canvasLock);
            DisposeFrame(f);
        }
        if (++currentFrame >= frames.count) {
            currentFrame = 0;
            CanvasGuard guard(&canvasLock);
            FillCanvas(0, 0, width, height);
        }
    }
}

void Gif32::Clear() {
    StopAnimation();
    FreeComObject(stillPicture);
    SetRectEmpty(&stillArea);
    frames.ReleaseAll();
    ReleaseCanvas();
    ReleaseSavedArea();
    scanner.Detach();
    isGif = FALSE;
    ready = FALSE;
    currentFrame = 0;
    background = 0xFFFFFF;
}

COLORREF Gif32::CanvasPixel(int x, int y) {
    if (!canvasDC) return CLR_INVALID;
    CanvasGuard guard(&canvasLock);
    return GetPixel(canvasDC, x, y);
}
