#include "agent/shell/startup_text.h"

#include <string.h>

bool IsSilentCommandLine(const char* commandLine) {
    static const char kSilent[] = "-silent";
    if (!commandLine) return false;
    size_t i = 0;
    for (; kSilent[i]; ++i) {
        char c = commandLine[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != kSilent[i]) return false; // also stops at the terminator of a shorter line
    }
    return commandLine[i] == '\0';
}

void CutToFolder(char* path) {
    if (!path) return;
    size_t n = strlen(path);
    while (n > 0) {
        char c = path[--n];
        path[n] = '\0';
        if (c == '\\' || c == '/') return;
    }
    strcpy(path, "\\");
}
