#include "agent/shell/palm_desktop_text.h"

#include <string.h>

namespace {

const char kConduitManagerFile[] = "condmgr.dll";

bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

// A folder on a drive letter: a relative one would resolve against whatever folder the agent
// was started from, a device name (\\.\ or \\?\) is no Palm Desktop, and a share's code is
// not this computer's to run.
bool IsOnDrive(const char* text, size_t length) {
    char root[4];
    return length >= 3 && DriveRoot(text, root);
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

// The folder (already known to be on a drive), one separator and the file name.
bool Compose(const char* folder, size_t length, const char* file, char* out, size_t size) {
    while (length > 0 && IsSeparator(folder[length - 1]))
        --length;
    const size_t fileSize = strlen(file) + 1;
    if (length == 0 || length + 1 + fileSize > size) return false;
    memcpy(out, folder, length);
    out[length] = '\\';
    memcpy(out + length + 1, file, fileSize);
    return true;
}

bool FromFolder(const char* path, const char* file, char* out, size_t size) {
    if (!path) return false;
    const char* begin;
    size_t length;
    Trim(path, &begin, &length);
    return IsOnDrive(begin, length) && Compose(begin, length, file, out, size);
}

bool FromProgram(const char* program, const char* file, char* out, size_t size) {
    if (!program) return false;
    const char* begin;
    size_t length;
    Trim(program, &begin, &length);
    if (!IsOnDrive(begin, length)) return false;
    while (length > 0 && !IsSeparator(begin[length - 1])) // the program's own name goes
        --length;
    return Compose(begin, length, file, out, size);
}

} // namespace

bool PalmDesktopFile(const char* path, const char* hotSyncPath, const char* file, char* out,
                     size_t size) {
    if (!out || size == 0) return false;
    if (file && (FromFolder(path, file, out, size) || FromProgram(hotSyncPath, file, out, size)))
        return true;
    out[0] = '\0';
    return false;
}

bool ConduitManagerPath(const char* path, const char* hotSyncPath, char* out, size_t size) {
    return PalmDesktopFile(path, hotSyncPath, kConduitManagerFile, out, size);
}
