// Whether a file can be opened for reading right now (it is closed again at once): the agent's
// test for "is it there for the user or the HotSync Manager". It shares everything, so a look
// never stands in the way of the conduit opening the rates file to delete it.
#pragma once
#include "agent/owners.h"

inline bool FileOpensForReading(const char* path) {
    ScopedHandle file(CreateFileA(path, GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return file.Held();
}
