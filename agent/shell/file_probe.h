// Whether a file can be opened for reading right now (it is closed again at once): the agent's
// test for "is it there for the user or the HotSync Manager". It shares everything, so a look
// never stands in the way of the conduit opening the rates file to delete it.
#pragma once
#include "agent/owners.h"
#include "agent/path/path_calls.h"

inline bool FileOpensForReading(const char* path) {
    ScopedHandle file(OpenPath(
        path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING));
    return file.Held();
}
