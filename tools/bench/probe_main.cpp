#include "tools/bench/probe.h"

#include <psapi.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "agent/shell/main_window.h"
#include "agent/shell/startup.h"
#include "agent/shell/tray.h"
#include "agent/update/downloader.h"

double NowMs() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return 1000.0 * static_cast<double>(t.QuadPart) / static_cast<double>(frequency.QuadPart);
}

namespace {

std::string Quoted(const std::string& s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char esc[8];
            snprintf(esc, sizeof esc, "\\u%04x", c);
            out += esc;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string Number(double v) {
    char text[32];
    snprintf(text, sizeof text, "%.4f", v);
    return text;
}

} // namespace

JsonLine::JsonLine(const char* kind) : text("{\"kind\": " + Quoted(kind)) {}

JsonLine& JsonLine::Add(const char* name, double value) {
    text += ", " + Quoted(name) + ": " + Number(value);
    return *this;
}

JsonLine& JsonLine::Add(const char* name, const std::string& value) {
    text += ", " + Quoted(name) + ": " + Quoted(value);
    return *this;
}

JsonLine& JsonLine::Add(const char* name, const std::vector<double>& values) {
    text += ", " + Quoted(name) + ": [";
    for (size_t i = 0; i < values.size(); ++i)
        text += (i ? ", " : "") + Number(values[i]);
    text += "]";
    return *this;
}

void JsonLine::Print() {
    printf("%s}\n", text.c_str());
    fflush(stdout);
}

void Fail(const char* format, ...) {
    char message[512];
    va_list args;
    va_start(args, format);
    vsnprintf(message, sizeof message, format, args);
    va_end(args);
    JsonLine("error").Add("message", std::string(message)).Print();
    exit(2);
}

std::string TempFolder(const char* tag) {
    char temp[MAX_PATH], unique[MAX_PATH];
    if (!GetTempPathA(sizeof temp, temp) || !GetTempFileNameA(temp, tag, 0, unique))
        Fail("no temporary folder");
    DeleteFileA(unique);
    if (!CreateDirectoryA(unique, nullptr)) Fail("cannot create %s", unique);
    return unique;
}

void RegisterProbeClass(const char* name, WNDPROC proc, HBRUSH background) {
    WNDCLASSA wc;
    ZeroMemory(&wc, sizeof wc);
    wc.lpfnWndProc = proc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.hbrBackground = background;
    wc.lpszClassName = name;
    if (!RegisterClassA(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
        Fail("cannot register the window class %s", name);
}

bool FileExists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

DWORD FileSize(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return INVALID_FILE_SIZE;
    return data.nFileSizeLow;
}

bool AgentHost::Open(const std::string& agentFolder, ClockFn clock) {
    ZeroMemory(&g_agent, sizeof g_agent);
    folder = agentFolder;
    g_agent.clock = clock;
    g_agent.instance = GetModuleHandleA(nullptr);
    g_agent.syncResultMessage = RegisterWindowMessageA("zlv_kelpo_palm_synch");
    g_agent.taskbarCreatedMessage = RegisterWindowMessageA("TaskbarCreated");
    g_agent.lastRecycleTime = AgentNow();
    g_agent.shellModule = LoadLibraryA("shell32.dll");
    if (g_agent.shellModule) {
        FARPROC proc = GetProcAddress(g_agent.shellModule, "Shell_NotifyIcon");
        g_agent.notify = reinterpret_cast<NotifyIconFn>(reinterpret_cast<void*>(proc));
    }
    for (int i = 0; i < kFrameCount; ++i)
        g_agent.frames[i] = LoadIconA(g_agent.instance, MAKEINTRESOURCEA(104 + i));
    g_agent.menu = LoadMenuA(g_agent.instance, MAKEINTRESOURCEA(134));
    g_agent.popupMenu = g_agent.menu ? GetSubMenu(g_agent.menu, 0) : nullptr;
    g_agent.agentFolder = _strdup(folder.c_str());
    g_agent.ratesFolder = _strdup(folder.c_str());

    static bool registered = false;
    if (!registered) {
        WNDCLASSEXA wc;
        ZeroMemory(&wc, sizeof wc);
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = MainWindowProc;
        wc.hInstance = g_agent.instance;
        wc.lpszClassName = ZLV_MAIN_WINDOW_CLASS;
        registered = RegisterClassExA(&wc) != 0;
    }
    window = CreateWindowExA(0, ZLV_MAIN_WINDOW_CLASS, "kelpo", WS_POPUP | WS_CAPTION | WS_SYSMENU,
                             0, 0, 10, 10, nullptr, nullptr, g_agent.instance, nullptr);
    if (!window) return false;
    g_agent.mainWindow = window;
    SetTrayFrame(0);
    return g_agent.trayAdded;
}

void AgentHost::FreshStart() {
    delete g_agent.downloader;
    g_agent.downloader = nullptr;
    delete g_agent.retiredDownloader;
    g_agent.retiredDownloader = nullptr;
    g_agent.updatedToday = false;
    g_agent.requestSent = false;
    g_agent.connectAbandoned = false;
    g_agent.lastRatesWriteTime = 0;
    g_agent.lastRecycleTime = AgentNow();
    DeleteFileA(RatesPath().c_str());
}

void AgentHost::Tick() {
    SendMessageA(window, WM_TIMER, kTimerId, 0);
}

void AgentHost::Close() {
    if (!window) return;
    DestroyWindow(window); // stops the timer and the downloader, deletes the tray icon
    window = nullptr;
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageA(&msg);
    CleanUpAgent();
    DeleteFileA(RatesPath().c_str());
}

namespace {

// Under Wine the process is a Linux process, and its /proc entries are files like any other.
bool ReadProcFile(const std::string& path, char* text, DWORD size) {
    HANDLE f = CreateFileA(("Z:\\proc\\" + path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    DWORD got = 0;
    BOOL read = ReadFile(f, text, size - 1, &got, nullptr);
    CloseHandle(f);
    text[read ? got : 0] = '\0';
    return read && got > 0;
}

double LinuxPrivateBytes() {
    char text[4096];
    if (!ReadProcFile("self\\smaps_rollup", text, sizeof text)) return -1;
    double kib = 0;
    bool found = false;
    for (const char* line = text; line && *line;
         line = strchr(line, '\n') ? strchr(line, '\n') + 1 : nullptr) {
        if (strncmp(line, "Private_", 8) != 0) continue;
        const char* colon = strchr(line, ':');
        if (!colon) continue;
        kib += atof(colon + 1);
        found = true;
    }
    return found ? kib * 1024.0 : -1;
}

// The write calls this process has made: under Wine, one for each request to the wineserver.
double OwnWriteCalls() {
    char text[1024];
    if (!ReadProcFile("self\\io", text, sizeof text)) return -1;
    const char* field = strstr(text, "syscw:");
    return field ? atof(field + 6) : -1;
}

// On-CPU nanoseconds of a single-threaded process, as the wineserver is.
double CpuNs(const std::string& pid) {
    char text[256];
    if (!ReadProcFile(pid + "\\schedstat", text, sizeof text)) return -1;
    return atof(text);
}

} // namespace

// requests COUNT SERVERPID: what the wineserver spends on one request: COUNT requests as cheap
// as any (a wait that times out at once), sent back to back, against its CPU time meanwhile.
int RunRequests(int argc, char** argv) {
    int count = argc > 0 ? atoi(argv[0]) : 0;
    if (count < 1000 || count > 10000000 || argc < 2) Fail("requests COUNT SERVERPID");
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!event) Fail("no event");
    double writes0 = OwnWriteCalls(), server0 = CpuNs(argv[1]), start = NowMs();
    for (int i = 0; i < count; ++i)
        WaitForSingleObject(event, 0);
    double writes1 = OwnWriteCalls(), server1 = CpuNs(argv[1]), took = NowMs() - start;
    CloseHandle(event);
    if (writes0 < 0 || server0 < 0 || writes1 < 0 || server1 < 0)
        Fail("no /proc readings of this process or of process %s", argv[1]);
    JsonLine("requests")
        .Add("requests", writes1 - writes0)
        .Add("server_ms", (server1 - server0) / 1e6)
        .Add("ms", took)
        .Print();
    return 0;
}

MemorySample SampleMemory() {
    MemorySample s = {};
    HANDLE heaps[64];
    DWORD count = GetProcessHeaps(64, heaps);
    if (count > 64) count = 64;
    for (DWORD i = 0; i < count; ++i) {
        if (!HeapLock(heaps[i])) continue;
        PROCESS_HEAP_ENTRY entry;
        entry.lpData = nullptr;
        while (HeapWalk(heaps[i], &entry))
            if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) {
                s.heapBytes += entry.cbData;
                s.heapBlocks += 1;
            }
        HeapUnlock(heaps[i]);
    }
    s.privateBytes = LinuxPrivateBytes();
    if (s.privateBytes < 0) {
        PROCESS_MEMORY_COUNTERS_EX counters;
        ZeroMemory(&counters, sizeof counters);
        counters.cb = sizeof counters;
        if (GetProcessMemoryInfo(GetCurrentProcess(),
                                 reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                                 sizeof counters))
            s.privateBytes = static_cast<double>(counters.PrivateUsage);
    }
    HANDLE probe = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    s.nextHandle = static_cast<double>(reinterpret_cast<UINT_PTR>(probe));
    if (probe) CloseHandle(probe);
    return s;
}

int main(int argc, char** argv) {
    struct Command {
        const char* name;
        int (*run)(int, char**);
    };
    const Command commands[] = {
        {"download", RunDownload}, {"stall", RunStall}, {"cycles", RunCycles},
        {"tick", RunTick},         {"logo", RunLogo},   {"startup", RunStartup},
        {"exit", RunExit},         {"wait", RunWait},   {"requests", RunRequests}};
    if (argc >= 2)
        for (const Command& c : commands)
            if (strcmp(argv[1], c.name) == 0) return c.run(argc - 2, argv + 2);
    fprintf(stderr, "usage: bench_probe download RUNS | stall RUNS SECONDS [idle] | cycles COUNT | "
                    "tick SAMPLES |"
                    " logo RUNS WINDOWS SECONDS | startup RUNS EXE KEY [EXE KEY...] | exit KEY | "
                    "wait KEY SECONDS | requests COUNT SERVERPID\n");
    return 2;
}
