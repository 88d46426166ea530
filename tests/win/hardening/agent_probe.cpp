// Looks at a running agent from outside, for the scripted fault and soak runs:
//   agent_probe watch SECONDS [STOP]   answers to WM_NULL every 100 ms; prints the slowest, in
//                                  ms; ends early once the file STOP exists
//   agent_probe counts             handles, GDI and USER objects, memory of the agent's process
//   agent_probe command ID         posts a menu command to the agent's window
//   agent_probe exit SECONDS       the Exit command; waits for the agent's process to end
//   agent_probe getreg NAME        the settings value: "<type> <hex bytes>", or "absent"
//   agent_probe setreg NAME TYPE HEX   writes raw bytes with that type number ("-" for none)
//   agent_probe delreg NAME
// Exit code 0 on success, 1 when there is no agent window or the value is absent, 2 when the
// agent did not answer in time, 3 on bad arguments.
#include <windows.h>
#include <psapi.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "agent/shell/main_window.h"
#include "agent/shell/settings.h"
#include "tests/win/common/registry_helpers.h"

namespace {

HWND AgentWindow() {
    return FindWindowA(ZLV_MAIN_WINDOW_CLASS, nullptr);
}

int Watch(double seconds, const char* stop) {
    DWORD slowest = 0, answers = 0, end = GetTickCount() + static_cast<DWORD>(seconds * 1000);
    do {
        HWND window = AgentWindow();
        if (!window) {
            printf("no agent window after %lu answers\n", answers);
            return 1;
        }
        DWORD start = GetTickCount();
        DWORD_PTR result = 0;
        if (!SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, &result)) {
            printf("no answer within 5000 ms\n");
            return 2;
        }
        DWORD took = GetTickCount() - start;
        if (took > slowest) slowest = took;
        ++answers;
        Sleep(100);
    } while (static_cast<LONG>(end - GetTickCount()) > 0 &&
             !(stop && GetFileAttributesA(stop) != INVALID_FILE_ATTRIBUTES));
    printf("slowest %lu ms over %lu answers\n", slowest, answers);
    return 0;
}

int Counts() {
    HWND window = AgentWindow();
    if (!window) return 1;
    DWORD id = 0;
    GetWindowThreadProcessId(window, &id);
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, id);
    if (!process) return 1;
    DWORD handles = 0;
    GetProcessHandleCount(process, &handles);
    PROCESS_MEMORY_COUNTERS_EX memory;
    ZeroMemory(&memory, sizeof memory);
    memory.cb = sizeof memory;
    GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory),
                         sizeof memory);
    printf("pid %lu handles %lu gdi %lu user %lu private %lu working %lu\n", id, handles,
           GetGuiResources(process, GR_GDIOBJECTS), GetGuiResources(process, GR_USEROBJECTS),
           static_cast<unsigned long>(memory.PrivateUsage),
           static_cast<unsigned long>(memory.WorkingSetSize));
    CloseHandle(process);
    return 0;
}

int Exit(double seconds) {
    HWND window = AgentWindow();
    if (!window) return 1;
    DWORD id = 0;
    GetWindowThreadProcessId(window, &id);
    HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, id);
    PostMessageA(window, WM_COMMAND, 40002, 0);
    if (!process) return 0; // gone already
    DWORD code = 0;
    bool ended = WaitForSingleObject(process, static_cast<DWORD>(seconds * 1000)) == WAIT_OBJECT_0;
    if (ended) GetExitCodeProcess(process, &code);
    CloseHandle(process);
    if (!ended) {
        printf("still running after %.1f s\n", seconds);
        return 2;
    }
    printf("ended with exit code %lu\n", code);
    return 0;
}

int GetValue(const char* name) {
    HKEY key = OpenSettingsKey();
    if (!key) return 1;
    BYTE data[1024];
    DWORD type = 0, size = sizeof data;
    LONG rc = RegQueryValueExA(key, name, nullptr, &type, data, &size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS) {
        printf("absent\n");
        return 1;
    }
    printf("%lu ", type);
    for (DWORD i = 0; i < size; ++i)
        printf("%02x", data[i]);
    printf("\n");
    return 0;
}

int SetValue(const char* name, const char* typeText, const char* hex) {
    size_t digits = strcmp(hex, "-") == 0 ? 0 : strlen(hex);
    if (digits % 2 || digits / 2 > 4096) return 3;
    BYTE data[4096];
    for (size_t i = 0; i < digits / 2; ++i) {
        char pair[3] = {hex[2 * i], hex[2 * i + 1], 0};
        data[i] = static_cast<BYTE>(strtoul(pair, nullptr, 16));
    }
    HKEY key = OpenSettingsKey();
    if (!key) return 1;
    LONG rc = RegSetValueExA(key, name, 0, strtoul(typeText, nullptr, 0), data,
                             static_cast<DWORD>(digits / 2));
    RegCloseKey(key);
    return rc == ERROR_SUCCESS ? 0 : 1;
}

int DeleteValue(const char* name) {
    HKEY key = OpenSettingsKey();
    if (!key) return 1;
    RegDeleteValueA(key, name);
    RegCloseKey(key);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if ((argc == 3 || argc == 4) && strcmp(argv[1], "watch") == 0)
        return Watch(atof(argv[2]), argc == 4 ? argv[3] : nullptr);
    if (argc == 2 && strcmp(argv[1], "counts") == 0) return Counts();
    if (argc == 3 && strcmp(argv[1], "command") == 0) {
        HWND window = AgentWindow();
        if (!window) return 1;
        PostMessageA(window, WM_COMMAND, strtoul(argv[2], nullptr, 0), 0);
        return 0;
    }
    if (argc == 3 && strcmp(argv[1], "exit") == 0) return Exit(atof(argv[2]));
    if (argc == 3 && strcmp(argv[1], "getreg") == 0) return GetValue(argv[2]);
    if (argc == 5 && strcmp(argv[1], "setreg") == 0) return SetValue(argv[2], argv[3], argv[4]);
    if (argc == 3 && strcmp(argv[1], "delreg") == 0) return DeleteValue(argv[2]);
    fprintf(stderr, "usage: agent_probe watch SECONDS [STOP] | counts | command ID | exit SECONDS "
                    "| getreg NAME | "
                    "setreg NAME TYPE HEX | delreg NAME\n");
    return 3;
}
