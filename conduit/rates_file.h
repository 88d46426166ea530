// The rates file as the conduit sees it: where it lies, and one handle that reads it and, after a
// good copy, deletes that very file.
#pragma once
#include <windows.h>

#include "conduit/rates_path.h"

// "target" made into the rates file's path; a folder on a network drive, or on a drive that is
// not there, counts as no folder.
RatesPath BuildRatesPath(RatesLocation* location);

enum RatesOpen {
    kRatesOpened,
    kRatesAbsent,     // no such file or folder: the handheld is up to date
    kRatesOpenFailed, // there, but not ours to read and delete (held by another, refused, ...)
};

struct RatesFile {
    HANDLE handle;
    RatesOpen state;
    const wchar_t* path;

    // With the right to delete, shared for reading only: while another holds it without sharing
    // delete, or writes it, this open fails; and while we hold it no download can land in its
    // place.
    explicit RatesFile(const wchar_t* path);
    ~RatesFile();
    bool IsOpen() const { return handle != INVALID_HANDLE_VALUE; }
    // Removes the file this handle read and closes the handle; false when the file stays.
    bool DeleteAndClose();
    void Close();

    RatesFile(const RatesFile&) = delete;
    RatesFile& operator=(const RatesFile&) = delete;
};
