#include "tests/win/gif/gif_fixture.h"

#include <stdlib.h>
#include <string.h>

#include <algorithm>

#include "tools/art/logo/gif_encoder.h"

namespace {

CRITICAL_SECTION g_debugLock;
FrameWaits* g_frameWaits;
// A thread held longer than this is stuck: the wait gives up so that the test fails, not hangs.
const DWORD kStuckMs = 5000;
std::string g_debugText;
PVOID g_handler;

LONG CALLBACK OnException(EXCEPTION_POINTERS* e) {
    const EXCEPTION_RECORD* r = e->ExceptionRecord;
    if (r->ExceptionCode == DBG_PRINTEXCEPTION_C && r->NumberParameters >= 2) {
        const char* text = (const char*)r->ExceptionInformation[1];
        EnterCriticalSection(&g_debugLock);
        g_debugText += text;
        LeaveCriticalSection(&g_debugLock);
    }
    return EXCEPTION_CONTINUE_SEARCH;
}

} // namespace

size_t FrameStart(const std::vector<uint8_t>& gif, size_t k) {
    size_t at = 13 + 768 + 19; // header, table, looping extension
    for (size_t i = 0; i < k; ++i) {
        at += 8 + 10 + 1; // control, descriptor and code size
        while (gif[at])
            at += gif[at] + 1;
        at += 1;
    }
    return at;
}

std::vector<uint8_t> MakeGif(int width, int height, const std::vector<TestFrame>& frames) {
    uint8_t palette[768] = {};
    for (int i = 0; i < 7; ++i) {
        palette[3 * i] = GetRValue(kPaletteColours[i]);
        palette[3 * i + 1] = GetGValue(kPaletteColours[i]);
        palette[3 * i + 2] = GetBValue(kPaletteColours[i]);
    }
    std::vector<EncodedFrame> encoded;
    for (const TestFrame& f : frames) {
        EncodedFrame e = {f.left,
                          f.top,
                          f.width,
                          f.height,
                          f.delay < 0 ? 0 : f.delay,
                          f.disposal,
                          std::vector<uint8_t>((size_t)f.width * f.height,
                                               (uint8_t)(f.colour < 0 ? 255 : f.colour))};
        encoded.push_back(e);
    }
    std::vector<uint8_t> gif = EncodeGif(width, height, palette, 255, encoded);
    // Frames asked for without graphic control: cut their extension out of the stream.
    for (size_t i = frames.size(); i-- > 0;) {
        size_t at = FrameStart(gif, i);
        if (frames[i].delay < 0) gif.erase(gif.begin() + at, gif.begin() + at + 8);
    }
    return gif;
}

HGLOBAL ToGlobal(const std::vector<uint8_t>& bytes) {
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes.size());
    void* p = GlobalLock(memory);
    memcpy(p, bytes.data(), bytes.size());
    GlobalUnlock(memory);
    return memory;
}

DebugCapture::DebugCapture() {
    InitializeCriticalSection(&g_debugLock);
    g_debugText.clear();
    g_handler = AddVectoredExceptionHandler(1, OnException);
}

DebugCapture::~DebugCapture() {
    RemoveVectoredExceptionHandler(g_handler);
    DeleteCriticalSection(&g_debugLock);
}

std::string DebugCapture::Take() {
    EnterCriticalSection(&g_debugLock);
    std::string text;
    text.swap(g_debugText);
    LeaveCriticalSection(&g_debugLock);
    return text;
}

FrameWaits::FrameWaits() {
    InitializeCriticalSection(&lock);
    asked = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    release = CreateSemaphoreA(nullptr, 0, 1000, nullptr);
    g_frameWaits = this;
    g_gifFrameWait = Wait;
}

FrameWaits::~FrameWaits() {
    g_gifFrameWait = WaitForSingleObject;
    g_frameWaits = nullptr;
    CloseHandle(asked);
    CloseHandle(release);
    DeleteCriticalSection(&lock);
}

DWORD WINAPI FrameWaits::Wait(HANDLE wakeEvent, DWORD ms) {
    FrameWaits* self = g_frameWaits;
    EnterCriticalSection(&self->lock);
    size_t i = self->waits.size();
    self->waits.push_back(ms);
    self->byWake.push_back(false);
    LeaveCriticalSection(&self->lock);
    SetEvent(self->asked);
    HANDLE ends[2] = {wakeEvent, self->release};
    DWORD r = WaitForMultipleObjects(2, ends, FALSE, kStuckMs);
    EnterCriticalSection(&self->lock);
    self->byWake[i] = r == WAIT_OBJECT_0;
    LeaveCriticalSection(&self->lock);
    return r == WAIT_OBJECT_0 ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
}

bool FrameWaits::Reach(size_t n) {
    for (;;) {
        EnterCriticalSection(&lock);
        size_t have = waits.size();
        LeaveCriticalSection(&lock);
        if (have >= n) return true;
        if (WaitForSingleObject(asked, kStuckMs) != WAIT_OBJECT_0) return false;
    }
}

void FrameWaits::Release() {
    ReleaseSemaphore(release, 1, nullptr);
}

std::vector<DWORD> FrameWaits::Asked() {
    EnterCriticalSection(&lock);
    std::vector<DWORD> copy = waits;
    LeaveCriticalSection(&lock);
    return copy;
}

bool FrameWaits::EndedByWake(size_t i) {
    EnterCriticalSection(&lock);
    bool wake = i < byWake.size() && byWake[i];
    LeaveCriticalSection(&lock);
    return wake;
}
