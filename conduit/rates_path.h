// Where the conduit may look for the rates file, decided from the text of "target" alone: only a
// folder on a drive letter. Needs no Windows.
#pragma once

enum { kRatesPathSize = 128, kDriveRootSize = 4 };

enum RatesPath {
    kRatesPathReady,
    kRatesPathNoFolder, // no folder on a drive letter: nothing to look at
    kRatesPathTooLong,
};

struct RatesLocation {
    char path[kRatesPathSize]; // the folder, a separator unless it ends with one, "mrvrates.zlv"
    char root[kDriveRootSize]; // "X:\", for asking what kind of drive it is
};

// UNC (\\host\share), device (\\.\x, \\?\x), rooted and relative folders are refused: each
// leads to a file, pipe or host that the folder of the rates does not name.
RatesPath ComposeRatesPath(const char* folder, RatesLocation* location);
