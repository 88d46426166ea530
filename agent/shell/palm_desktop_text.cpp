#include "agent/shell/palm_desktop_text.h"

#include <string.h>

namespace {

const char kConduitManagerFile[] = "condmgr.dll";

bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

// A folder of its own: a relative one would resolve against whatever folder the agent was
// started from, and a device name (\\.\ or \\?\) is no Palm Desktop.
bool IsAbsolute(const char* text, size_t length) {
    char letter = static_cast<char>(text[0] | 0x20);
    bool drive =
        length >= 3 && letter >= 'a' && letter <= 'z' && text[1] == ':' && IsSeparator(text[2]);
    bool unc = length >= 3 && IsSeparator(text[0]) && IsSeparator(text[1]) &&
               !IsSeparator(text[2]) && text[2] != '.' && text[2] != '?';
    return drive || unc;
}

// The text without surrounding quotes and blanks: [begin, begin + length).
void Trim(const char* text, const char** begin, size_t* length) {
    size_t n = strlen(text);
    while (n > 0 && (*text == ' ' || *text == '"')) {
        ++text;
        --n;
    }
    while (n > 0 && (text[n - 1] == ' ' || text[n - 1] == '"'))
        --n;
    *begin = text;
    *length = n;
}

// The folder (already known to be absolute), one separator and the file name.
bool Compose(const char* folder, size_t length, char* out, size_t size) {
    while (length > 0 && IsSeparator(folder[length - 1]))
        --length;
    if (length == 0) return false;
    if (length + 1 + sizeof(kConduitManagerFile) > size) return false;
    memcpy(out, folder, length);
    out[length] = '\\';
    memcpy(out + length + 1, kConduitManagerFile, sizeof(kConduitManagerFile));
    return true;
}

bool FromFolder(const char* path, char* out, size_t size) {
    if (!path) return false;
    const char* begin;
    size_t length;
    Trim(path, &begin, &length);
    return length > 0 && IsAbsolute(begin, length) && Compose(begin, length, out, size);
}

bool FromProgram(const char* program, char* out, size_t size) {
    if (!program) return false;
    const char* begin;
    size_t length;
    Trim(program, &begin, &length);
    if (length == 0 || !IsAbsolute(begin, length)) return false;
    while (length > 0 && !IsSeparator(begin[length - 1])) // the program's own name goes
        --length;
    return Compose(begin, length, out, size);
}

} // namespace

bool ConduitManagerPath(const char* path, const char* hotSyncPath, char* out, size_t size) {
    if (!out || size == 0) return false;
    if (FromFolder(path, out, size) || FromProgram(hotSyncPath, out, size)) return true;
    out[0] = '\0';
    return false;
}
