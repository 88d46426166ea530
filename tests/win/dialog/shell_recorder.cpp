// Stands in for the program the shell starts for a document: appends the command line it was
// given to the file named by ZLV_SHELL_LOG, and ends. A GUI program, so no console opens.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    const char* log = getenv("ZLV_SHELL_LOG");
    FILE* f = log ? fopen(log, "ab") : nullptr;
    if (!f) return 1;
    fprintf(f, "%s\n", GetCommandLineA());
    fclose(f);
    return 0;
}
