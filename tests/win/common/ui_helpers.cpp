#include "tests/win/common/ui_helpers.h"

HWND MakeParent() {
    static ATOM atom;
    if (!atom) {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = DefWindowProcA;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "ZlvTestParent";
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        atom = RegisterClassA(&wc);
    }
    return CreateWindowExA(0, "ZlvTestParent", "test parent", WS_OVERLAPPEDWINDOW, 0, 0, 200, 200,
                           nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
}

void Pump(DWORD ms) {
    PumpUntil([] { return false; }, ms);
}

bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    for (;;) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        if (done()) return true;
        DWORD spent = GetTickCount() - start;
        if (spent >= timeoutMs) return done();
        MsgWaitForMultipleObjects(0, nullptr, FALSE,
                                  timeoutMs - spent < 10 ? timeoutMs - spent : 10, QS_ALLINPUT);
    }
}

double NowMs() {
    static LARGE_INTEGER frequency;
    if (!frequency.QuadPart) QueryPerformanceFrequency(&frequency);
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart * 1000.0 / frequency.QuadPart;
}
