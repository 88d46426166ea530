// Start-up: from CreateProcess to the window handle that a program records right after adding
// its tray icon. The agent records "hwnd" in its settings key; the baseline program in its own.
#include <stdlib.h>
#include <string.h>

#include "agent/owners.h"
#include "tools/bench/probe.h"

namespace {

const UINT kExitCommand = 40002; // the agent's Exit; the baseline answers it too

struct Program {
    std::string exe;
    HKEY root;
    std::string path;
    std::vector<double> ms;
};

bool ParseKey(const char* text, HKEY* root, std::string* path) {
    if (strncmp(text, "HKLM\\", 5) == 0)
        *root = HKEY_LOCAL_MACHINE;
    else if (strncmp(text, "HKCU\\", 5) == 0)
        *root = HKEY_CURRENT_USER;
    else
        return false;
    *path = text + 5;
    return !path->empty();
}

bool ReadHandle(HKEY key, DWORD* value) {
    DWORD type = 0, size = sizeof *value;
    return RegQueryValueExA(key, "hwnd", nullptr, &type, reinterpret_cast<BYTE*>(value), &size) ==
               ERROR_SUCCESS &&
           type == REG_DWORD && size == sizeof *value;
}

// The window recorded under a key named "HKLM\..." or "HKCU\..."; null when there is none.
HWND RecordedWindow(const char* keyText) {
    HKEY root;
    std::string path;
    if (!ParseKey(keyText, &root, &path)) Fail("key %s is not HKLM\\ or HKCU\\", keyText);
    ScopedKey key;
    DWORD value = 0;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, key.Receive()) != ERROR_SUCCESS ||
        !ReadHandle(key.Get(), &value))
        return nullptr;
    return reinterpret_cast<HWND>(static_cast<UINT_PTR>(value));
}

std::string FolderOf(const std::string& path) {
    size_t cut = path.find_last_of("\\/");
    return cut == std::string::npos ? std::string(".") : path.substr(0, cut);
}

// One start, timed; the program is ended again before the next one.
double StartOnce(const Program& p) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(p.root, p.path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        Fail("cannot open the key of %s", p.exe.c_str());
    RegDeleteValueA(key, "hwnd");
    HANDLE changed = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    std::string line = "\"" + p.exe + "\"";
    std::vector<char> commandLine(line.begin(), line.end());
    commandLine.push_back('\0');
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    ZeroMemory(&process, sizeof process);
    std::string folder = FolderOf(p.exe);

    RegNotifyChangeKeyValue(key, FALSE, REG_NOTIFY_CHANGE_LAST_SET, changed, TRUE);
    double start = NowMs();
    if (!CreateProcessA(p.exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        folder.c_str(), &startup, &process))
        Fail("cannot start %s (%lu)", p.exe.c_str(), GetLastError());
    DWORD window = 0;
    double took = -1;
    while (NowMs() - start < 15000) {
        if (ReadHandle(key, &window)) {
            took = NowMs() - start;
            break;
        }
        HANDLE waits[2] = {changed, process.hProcess};
        DWORD woke = WaitForMultipleObjects(2, waits, FALSE, 100);
        if (woke == WAIT_OBJECT_0 + 1) break; // ended before it got that far
        // Armed again before the next look, so a write in between is not missed.
        RegNotifyChangeKeyValue(key, FALSE, REG_NOTIFY_CHANGE_LAST_SET, changed, TRUE);
    }
    if (window)
        PostMessageA(reinterpret_cast<HWND>(static_cast<UINT_PTR>(window)), WM_COMMAND,
                     kExitCommand, 0);
    if (WaitForSingleObject(process.hProcess, 5000) != WAIT_OBJECT_0) {
        TerminateProcess(process.hProcess, 99);
        WaitForSingleObject(process.hProcess, 5000);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    CloseHandle(changed);
    RegCloseKey(key);
    if (took < 0) Fail("%s recorded no window handle within 15 s", p.exe.c_str());
    return took;
}

} // namespace

// startup RUNS EXE KEY [EXE KEY...]: the programs take turns, RUNS starts each.
int RunStartup(int argc, char** argv) {
    int runs = argc > 0 ? atoi(argv[0]) : 0;
    if (runs < 1 || runs > 100 || argc < 3 || (argc - 1) % 2 != 0)
        Fail("startup RUNS EXE KEY [EXE KEY...]");
    std::vector<Program> programs;
    for (int i = 1; i + 1 < argc; i += 2) {
        Program p;
        p.exe = argv[i];
        if (!ParseKey(argv[i + 1], &p.root, &p.path))
            Fail("key %s is not HKLM\\ or HKCU\\", argv[i + 1]);
        programs.push_back(p);
    }
    // A first start of each, not counted: it pages in what every later start finds cached.
    for (Program& p : programs)
        StartOnce(p);
    for (int r = 0; r < runs; ++r)
        for (Program& p : programs)
            p.ms.push_back(StartOnce(p));
    for (const Program& p : programs)
        JsonLine("startup").Add("exe", p.exe).Add("ms", p.ms).Print();
    return 0;
}

// exit KEY: the Exit command to the window recorded under KEY; waits until the window is gone.
int RunExit(int argc, char** argv) {
    if (argc < 1) Fail("exit KEY");
    HWND window = RecordedWindow(argv[0]);
    if (!window || !IsWindow(window)) Fail("no window recorded under %s", argv[0]);
    PostMessageA(window, WM_COMMAND, kExitCommand, 0);
    for (int i = 0; i < 500 && IsWindow(window); ++i)
        Sleep(10);
    if (IsWindow(window)) Fail("the window under %s is still there", argv[0]);
    JsonLine("exit").Add("key", std::string(argv[0])).Print();
    return 0;
}

// wait KEY SECONDS: until the window recorded under KEY exists.
int RunWait(int argc, char** argv) {
    if (argc < 2) Fail("wait KEY SECONDS");
    double end = NowMs() + atof(argv[1]) * 1000.0;
    do {
        HWND window = RecordedWindow(argv[0]);
        if (window && IsWindow(window)) {
            JsonLine("wait").Add("key", std::string(argv[0])).Print();
            return 0;
        }
        Sleep(20);
    } while (NowMs() < end);
    Fail("no window under %s", argv[0]);
    return 2;
}
