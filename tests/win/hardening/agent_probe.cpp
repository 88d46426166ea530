// Looks at a running agent from outside, for the scripted fault and soak runs:
//   agent_probe watch SECONDS [STOP]   answers to WM_NULL every 100 ms; prints the slowest, in
//                                  ms; ends early once the file STOP exists
//   agent_probe getreg NAME        the user's settings value: "<type> <hex bytes>", or "absent"
//   agent_probe delreg NAME
//   agent_probe ratesfolder        the user's rates folder, where the agent writes the rates file
//                                  (UTF-8)
//   agent_probe codepage           the ANSI code page the system gives programs
// Exit code 0 on success, 1 when there is no agent window or the value is absent, 2 when the
// agent did not answer in time, 3 on bad arguments.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "agent/shell/main_window.h"
#include "tests/win/common/agent_runner.h"
#include "tests/win/common/file_helpers.h"
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

int GetValue(const char* name) {
    DWORD type = 0;
    Bytes data;
    if (!ReadSetting(name, &type, &data)) {
        printf("absent\n");
        return 1;
    }
    printf("%lu ", type);
    for (BYTE b : data)
        printf("%02x", b);
    printf("\n");
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if ((argc == 3 || argc == 4) && strcmp(argv[1], "watch") == 0)
        return Watch(atof(argv[2]), argc == 4 ? argv[3] : nullptr);
    if (argc == 3 && strcmp(argv[1], "getreg") == 0) return GetValue(argv[2]);
    if (argc == 3 && strcmp(argv[1], "delreg") == 0) {
        DeleteSetting(argv[2]);
        return 0;
    }
    if (argc == 2 && strcmp(argv[1], "ratesfolder") == 0) {
        std::string folder = UserRatesFolder();
        printf("%s\n", folder.c_str());
        return folder.empty() ? 1 : 0;
    }
    if (argc == 2 && strcmp(argv[1], "codepage") == 0) {
        printf("%u\n", GetACP());
        return 0;
    }
    fprintf(stderr, "usage: agent_probe watch SECONDS [STOP] | getreg NAME | "
                    "delreg NAME | ratesfolder | codepage\n");
    return 3;
}
