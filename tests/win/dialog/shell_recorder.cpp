// Stands in for the program the shell starts for a document: appends the command line it was
// given to the file named by ZLV_SHELL_LOG (in UTF-8), and ends. A GUI program, so no console
// opens.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    const char* log = getenv("ZLV_SHELL_LOG");
    FILE* f = log ? fopen(log, "ab") : nullptr;
    if (!f) return 1;
    // As UTF-8, so that a folder named outside the code page shows as it is.
    const wchar_t* line = GetCommandLineW();
    char text[4096];
    int n = WideCharToMultiByte(CP_UTF8, 0, line, -1, text, sizeof text, nullptr, nullptr);
    fprintf(f, "%s\n", n > 0 ? text : "(unreadable)");
    fclose(f);
    return 0;
}
