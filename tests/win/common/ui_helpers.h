// Windows on the test's own thread: a parent to hold them, their messages pumped, and polling.
#pragma once
#include <windows.h>

#include <functional>

// A hidden top-level window with the dialog face colour as its background.
HWND MakeParent();

// Dispatches messages for the given time.
void Pump(DWORD ms);
// Dispatches messages until done() holds or the time is up; returns done().
bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs);

double NowMs();
// Polls, without pumping, until pred is true or timeout passes; returns whether it became true.
template <class Pred> bool WaitFor(Pred pred, int timeoutMs) {
    double end = NowMs() + timeoutMs;
    while (NowMs() < end) {
        if (pred()) return true;
        Sleep(1);
    }
    return pred();
}
