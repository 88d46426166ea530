// The About box's logo: how long Load takes, and what the animation thread costs while it plays.
#include "tools/bench/probe.h"

#include <tlhelp32.h>
#include <stdlib.h>

#include <set>

#include "agent/gif/gif32.h"

namespace {

const int kLogo = 141;
const int kLogoFrames = 10;

std::set<DWORD> ThreadsOfThisProcess() {
    std::set<DWORD> ids;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return ids;
    THREADENTRY32 entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        if (entry.th32OwnerProcessID == GetCurrentProcessId()) ids.insert(entry.th32ThreadID);
    CloseHandle(snapshot);
    return ids;
}

double ThreadCpuMs(HANDLE thread) {
    FILETIME created, ended, kernel, user;
    if (!GetThreadTimes(thread, &created, &ended, &kernel, &user)) return -1;
    ULARGE_INTEGER k, u;
    k.LowPart = kernel.dwLowDateTime;
    k.HighPart = kernel.dwHighDateTime;
    u.LowPart = user.dwLowDateTime;
    u.HighPart = user.dwHighDateTime;
    return static_cast<double>(k.QuadPart + u.QuadPart) / 10000.0;
}

// The logo as the system's picture loader takes it whole: one picture, no frames.
bool LoadWholePicture(HINSTANCE instance) {
    HRSRC found = FindResourceA(instance, MAKEINTRESOURCEA(kLogo), "GIF");
    HGLOBAL resource = found ? LoadResource(instance, found) : nullptr;
    const void* bytes = resource ? LockResource(resource) : nullptr;
    if (!bytes) return false;
    DWORD size = SizeofResource(instance, found);
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, size);
    if (!memory) return false;
    memcpy(GlobalLock(memory), bytes, size);
    GlobalUnlock(memory);
    IStream* stream = nullptr;
    if (FAILED(CreateStreamOnHGlobal(memory, TRUE, &stream))) {
        GlobalFree(memory);
        return false;
    }
    IPicture* picture = nullptr;
    HRESULT hr = OleLoadPicture(stream, static_cast<LONG>(size), FALSE, IID_IPicture,
                                reinterpret_cast<void**>(&picture));
    stream->Release();
    if (picture) picture->Release();
    return SUCCEEDED(hr);
}

// What a thread costs that only waits as the animation waits, drawing nothing: the floor.
volatile LONG g_stopWaiter;
DWORD WINAPI Waiter(void* event) {
    while (!g_stopWaiter)
        WaitForSingleObject(static_cast<HANDLE>(event), 100);
    return 0;
}

HWND MakeParent() {
    const char kClass[] = "ZelvanticBenchLogoParent";
    RegisterProbeClass(kClass, DefWindowProcA, reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1));
    HWND parent =
        CreateWindowExA(WS_EX_TOOLWINDOW, kClass, "Zelvantic", WS_POPUP | WS_CAPTION | WS_VISIBLE,
                        100, 100, 300, 120, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    if (!parent) Fail("no window for the logo");
    return parent;
}

} // namespace

// logo RUNS WINDOWS SECONDS: RUNS timed loads; then the animation plays for WINDOWS spells of
// SECONDS each beside a thread that only waits, each thread's CPU time read at both ends of every
// spell. The system's thread times move in 10 ms steps under Wine, so the line "animating" tells
// the driver when to read the threads' Linux figures, to the nanosecond, from outside.
int RunLogo(int argc, char** argv) {
    int runs = argc > 0 ? atoi(argv[0]) : 0;
    int windows = argc > 1 ? atoi(argv[1]) : 0;
    double seconds = argc > 2 ? atof(argv[2]) : 0;
    if (runs < 1 || runs > 200 || windows < 1 || windows > 20 || seconds < 0.5 || seconds > 60)
        Fail("logo RUNS WINDOWS SECONDS out of range");
    HINSTANCE instance = GetModuleHandleA(nullptr);
    HWND parent = MakeParent();
    PumpUntil([] { return false; }, 200);

    std::vector<double> loadMs, pictureMs;
    for (int r = 0; r < runs; ++r) {
        Gif32* logo = new Gif32;
        logo->CreateChild(parent, nullptr, 10, 15, CW_USEDEFAULT, CW_USEDEFAULT, nullptr);
        double start = NowMs();
        BOOL loaded = logo->Load(MAKEINTRESOURCEA(kLogo), "GIF", instance);
        loadMs.push_back(NowMs() - start);
        if (!loaded || logo->FrameCount() != kLogoFrames)
            Fail("the logo loaded %d frames, not %d", logo->FrameCount(), kLogoFrames);
        delete logo;
        PumpUntil([] { return false; }, 20);
    }
    for (int r = 0; r < runs; ++r) {
        double start = NowMs();
        if (!LoadWholePicture(instance)) Fail("the system loader refused the logo");
        pictureMs.push_back(NowMs() - start);
    }
    JsonLine("logo_loads").Add("load_ms", loadMs).Add("picture_ms", pictureMs).Print();

    Gif32* logo = new Gif32;
    logo->CreateChild(parent, nullptr, 10, 15, CW_USEDEFAULT, CW_USEDEFAULT, nullptr);
    logo->Load(MAKEINTRESOURCEA(kLogo), "GIF", instance);
    logo->SetBackground(GetSysColor(COLOR_BTNFACE));
    std::set<DWORD> before = ThreadsOfThisProcess();
    logo->Draw();
    std::set<DWORD> after = ThreadsOfThisProcess();
    std::vector<DWORD> started;
    for (DWORD id : after)
        if (!before.count(id)) started.push_back(id);
    if (started.size() != 1 || !logo->IsAnimated())
        Fail("expected one animation thread, found %d", static_cast<int>(started.size()));
    HANDLE animation = OpenThread(THREAD_QUERY_INFORMATION, FALSE, started[0]);
    HANDLE wake = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    g_stopWaiter = 0;
    HANDLE waiter = CreateThread(nullptr, 0, Waiter, wake, 0, nullptr);
    if (!animation || !waiter) Fail("cannot watch the threads");
    JsonLine("animating").Add("seconds", windows * seconds).Print();

    std::vector<double> animationMsPerS, waiterMsPerS, framesSeen;
    for (int w = 0; w < windows; ++w) {
        double a0 = ThreadCpuMs(animation), w0 = ThreadCpuMs(waiter), t0 = NowMs();
        int changes = 0, last = logo->CurrentFrame();
        PumpUntil(
            [&] {
                if (logo->CurrentFrame() != last) {
                    last = logo->CurrentFrame();
                    ++changes;
                }
                return false;
            },
            seconds * 1000.0);
        double elapsedS = (NowMs() - t0) / 1000.0;
        double a1 = ThreadCpuMs(animation), w1 = ThreadCpuMs(waiter);
        if (a0 < 0 || a1 < 0) Fail("no thread times");
        animationMsPerS.push_back((a1 - a0) / elapsedS);
        waiterMsPerS.push_back((w1 - w0) / elapsedS);
        framesSeen.push_back(changes);
    }
    g_stopWaiter = 1;
    SetEvent(wake);
    WaitForSingleObject(waiter, INFINITE);
    CloseHandle(waiter);
    CloseHandle(wake);
    CloseHandle(animation);
    delete logo;
    DestroyWindow(parent);
    JsonLine("logo")
        .Add("animation_ms_per_s", animationMsPerS)
        .Add("waiter_ms_per_s", waiterMsPerS)
        .Add("frame_changes", framesSeen)
        .Print();
    return 0;
}
