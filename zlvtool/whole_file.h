// Files that are whole or not there: each is written to a new file of its own beside its final
// name and renamed into place only once every one of them is whole, so a failure leaves the old
// files as they were.
#pragma once
#include <stddef.h>

struct WholeFile {
    const char* path;
    const void* data;
    size_t size;
};

// Null when all are in place; else the path that could not be written, with errno saying why.
const char* WriteWholeFiles(const WholeFile* files, size_t count);
