// Where the conduit may look for the rates file, decided from the text of "target" alone: only a
// folder on a drive letter. The folder is kept in the system's wide characters, so that a name
// outside the ANSI code page reaches the file as it is. Needs no Windows.
#pragma once
#include <wchar.h>

enum { kRatesPathSize = 128, kDriveRootSize = 4 }; // in characters

enum RatesPath {
    kRatesPathReady,
    kRatesPathNoFolder, // no folder on a drive letter: nothing to look at
    kRatesPathTooLong,
};

struct RatesLocation {
    wchar_t path[kRatesPathSize]; // the folder, a separator unless it ends with one, "mrvrates.zlv"
    wchar_t root[kDriveRootSize]; // "X:\", for asking what kind of drive it is
};

// UNC (\\host\share), device (\\.\x, \\?\x), rooted and relative folders are refused: each
// leads to a file, pipe or host that the folder of the rates does not name.
RatesPath ComposeRatesPath(const wchar_t* folder, RatesLocation* location);
