#include "agent/balloon/balloon_list.h"

#include <stdlib.h>
#include <string.h>

#include "agent/balloon/balloon_window.h"
#include "agent/owners.h"

namespace {

// Valid only while balloonWindows > 0.
CRITICAL_SECTION openBalloonsLock;
volatile LONG balloonWindows = 0;

struct HandleList {
    HWND* items;
    int count;
    int capacity;
};
HandleList openBalloons;

class ListLock {
  public:
    ListLock() { EnterCriticalSection(&openBalloonsLock); }
    ~ListLock() { LeaveCriticalSection(&openBalloonsLock); }
};

bool AnyBalloonWindow() {
    return InterlockedCompareExchange(&balloonWindows, 0, 0) > 0;
}

} // namespace

void AddOpenBalloon(HWND window) {
    if (InterlockedIncrement(&balloonWindows) == 1) InitializeCriticalSection(&openBalloonsLock);
    ListLock lock;
    if (openBalloons.count == openBalloons.capacity) {
        int capacity = openBalloons.capacity ? openBalloons.capacity * 2 : 8;
        HWND* items = static_cast<HWND*>(realloc(openBalloons.items, capacity * sizeof(HWND)));
        // Without room the balloon still hides itself on its timer; it just cannot be closed early.
        if (!items) return;
        openBalloons.items = items;
        openBalloons.capacity = capacity;
    }
    openBalloons.items[openBalloons.count++] = window;
}

void RemoveOpenBalloon(HWND window) {
    if (!AnyBalloonWindow()) return;
    {
        ListLock lock;
        for (int i = 0; i < openBalloons.count; ++i) {
            if (openBalloons.items[i] != window) continue;
            memmove(openBalloons.items + i, openBalloons.items + i + 1,
                    (openBalloons.count - i - 1) * sizeof(HWND));
            --openBalloons.count;
            break;
        }
    }
    if (InterlockedDecrement(&balloonWindows) == 0) {
        DeleteCriticalSection(&openBalloonsLock);
        free(openBalloons.items);
        memset(&openBalloons, 0, sizeof openBalloons);
    }
}

bool IsOpenBalloon(HWND window) {
    if (!AnyBalloonWindow()) return false;
    ListLock lock;
    for (int i = 0; i < openBalloons.count; ++i)
        if (openBalloons.items[i] == window) return true;
    return false;
}

int CopyOpenBalloons(HWND* out, int max) {
    if (!AnyBalloonWindow()) return 0;
    ListLock lock;
    int n = openBalloons.count < max ? openBalloons.count : max;
    if (out && n > 0) memcpy(out, openBalloons.items, n * sizeof(HWND));
    return openBalloons.count;
}

void HideAllBalloons() {
    ScopedMalloc<HWND> copy;
    int count = 0;
    if (!AnyBalloonWindow()) return;
    {
        // Destroying takes the lock again, so work on a copy outside it.
        ListLock lock;
        count = openBalloons.count;
        if (count == 0) return;
        copy.Reset(static_cast<HWND*>(malloc(count * sizeof(HWND))));
        if (!copy.Held()) return;
        memcpy(copy.Get(), openBalloons.items, count * sizeof(HWND));
    }
    for (int i = 0; i < count; ++i) {
        // A handle that already went away may have been handed to some other window since.
        HWND balloon = copy.Get()[i];
        if (IsOpenBalloon(balloon)) DestroyWindow(balloon);
        Sleep(1);
    }
}
