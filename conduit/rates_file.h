// The rates file as the conduit sees it: where it lies, and one handle that reads it and, after a
// good copy, deletes that very file.
#pragma once
#include <windows.h>

enum { kRatesPathSize = 128 };

enum RatesPath {
    kRatesPathReady,
    kRatesPathNoFolder, // "target" missing, empty or not an absolute path: nothing to look at
    kRatesPathTooLong,
};
// "target", a separator unless it already ends with one, then "mrvrates.zlv".
RatesPath BuildRatesPath(char (&path)[kRatesPathSize]);

struct RatesFile {
    HANDLE handle;
    bool deletable; // opened with the right to delete it through this handle
    const char* path;

    // Shared for reading only: while the agent writes the file this open fails, and while we hold
    // it no download can land in its place.
    explicit RatesFile(const char* path);
    ~RatesFile();
    bool IsOpen() const { return handle != INVALID_HANDLE_VALUE; }
    // Removes the file this handle read and closes the handle.
    void DeleteAndClose();
    void Close();

    RatesFile(const RatesFile&) = delete;
    RatesFile& operator=(const RatesFile&) = delete;
};
