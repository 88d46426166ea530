// Where the user's Palm Desktop keeps its Conduit Manager and its help, from the two values Palm
// Desktop writes under HKEY_CURRENT_USER\Software\U.S. Robotics\Pilot Desktop\Core: "Path" (its
// folder) and "HotSyncPath" (the HotSync Manager's program, whose folder holds them too). Apart
// from the registry calls so that it is tested natively; a header of templates so that the agent
// (path text) and the conduit (wide text) take the same rule without sharing a library.
#pragma once
#include <stddef.h>

#define ZLV_PALM_DESKTOP_KEY "Software\\U.S. Robotics\\Pilot Desktop\\Core"

// Writes the full path of condmgr.dll into out (size bytes) and returns true; false, with out
// empty, when neither value names a folder on a drive letter (a drive and a separator) or the
// result would not fit. "Path" wins over "HotSyncPath"; either may be null, quoted, or end in
// separators.
bool ConduitManagerPath(const char* path, const char* hotSyncPath, char* out, size_t size);

// "X:\" for a path on a drive letter, to ask Windows what kind of drive it is; false for every
// other form (a share, a device, a relative path). Code is taken from the Palm Desktop folder
// only on a fixed drive of the computer: a share's or a removable disk's files are anyone's.
template <typename Char> bool DriveRoot(const Char* path, Char (&root)[4]) {
    if (!path) return false;
    const Char letter = static_cast<Char>(path[0] | 0x20);
    if (letter < 'a' || letter > 'z' || path[1] != ':' || (path[2] != '\\' && path[2] != '/'))
        return false;
    root[0] = path[0];
    root[1] = ':';
    root[2] = '\\';
    root[3] = 0;
    return true;
}

namespace palm_desktop_detail {

template <typename Char> bool IsSeparator(Char c) {
    return c == '\\' || c == '/';
}

template <typename Char> size_t Length(const Char* text) {
    size_t n = 0;
    while (text[n])
        ++n;
    return n;
}

// The text without surrounding quotes and blanks, if it names something on a drive letter (a
// relative folder would resolve against wherever the program was started, a device name is no
// Palm Desktop, a share's code is not the computer's): [*begin, *begin + *length).
template <typename Char> bool OnDrive(const Char* text, const Char** begin, size_t* length) {
    if (!text) return false;
    size_t n = Length(text);
    while (n > 0 && (*text == ' ' || *text == '"')) {
        ++text;
        --n;
    }
    while (n > 0 && (text[n - 1] == ' ' || text[n - 1] == '"'))
        --n;
    Char root[4];
    *begin = text;
    *length = n;
    return n >= 3 && DriveRoot(text, root);
}

// The folder, one separator and the file name, whole or not at all.
template <typename Char>
bool Compose(const Char* folder, size_t length, const Char* file, Char* out, size_t size) {
    while (length > 0 && IsSeparator(folder[length - 1]))
        --length;
    const size_t fileSize = Length(file) + 1;
    if (length == 0 || length + 1 + fileSize > size) return false;
    for (size_t i = 0; i < length; ++i)
        out[i] = folder[i];
    out[length] = '\\';
    for (size_t i = 0; i < fileSize; ++i)
        out[length + 1 + i] = file[i];
    return true;
}

} // namespace palm_desktop_detail

// The full path of a file of the Palm Desktop folder, by the same rule as ConduitManagerPath;
// size counts characters.
template <typename Char>
bool PalmDesktopFile(const Char* path, const Char* hotSyncPath, const Char* file, Char* out,
                     size_t size) {
    using namespace palm_desktop_detail;
    if (!out || size == 0) return false;
    const Char* begin;
    size_t length;
    if (file && OnDrive(path, &begin, &length) && Compose(begin, length, file, out, size))
        return true;
    if (file && OnDrive(hotSyncPath, &begin, &length)) {
        while (length > 0 && !IsSeparator(begin[length - 1])) // the program's own name goes
            --length;
        if (Compose(begin, length, file, out, size)) return true;
    }
    out[0] = 0;
    return false;
}
