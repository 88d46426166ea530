// Gives a running agent one of its menu commands from outside, for scripts and the demo:
//   agent_command [ID [SECONDS]]   ID defaults to Exit (40002), which waits up to SECONDS (5).
// Exit code: 0 done (for Exit, the agent's own code is printed), 1 no agent running, 2 the agent
// did not end in time.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

#include "agent/resources/resource.h"
#include "agent/shell/main_window.h"

int main(int argc, char** argv) {
    UINT command = argc > 1 ? static_cast<UINT>(atoi(argv[1])) : IDM_EXIT;
    DWORD seconds = argc > 2 ? static_cast<DWORD>(atoi(argv[2])) : 5;
    HWND window = FindWindowA(ZLV_MAIN_WINDOW_CLASS, nullptr);
    if (!window) {
        printf("no agent running\n");
        return 1;
    }
    if (command != IDM_EXIT) {
        PostMessageA(window, WM_COMMAND, command, 0);
        return 0;
    }
    DWORD id = 0;
    GetWindowThreadProcessId(window, &id);
    HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, id);
    PostMessageA(window, WM_COMMAND, command, 0);
    if (!process) return 0; // already gone
    DWORD code = 0;
    bool ended = WaitForSingleObject(process, seconds * 1000) == WAIT_OBJECT_0;
    if (ended) GetExitCodeProcess(process, &code);
    CloseHandle(process);
    if (!ended) {
        printf("the agent did not end within %lu s\n", static_cast<unsigned long>(seconds));
        return 2;
    }
    printf("the agent ended with exit code %lu\n", static_cast<unsigned long>(code));
    return 0;
}
