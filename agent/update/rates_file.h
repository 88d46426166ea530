// Hands a completed download to the conduit as the rates file "mrvrates.zlv".
#pragma once
#include <time.h>

#include "agent/update/byte_string.h"

// Writes the page body that the reply reader gave as the file in the folder (path text, see
// agent/path/path_text.h), stamped with now; true only when the whole file is in place. Fails,
// leaving any earlier file untouched, while the conduit has the file open: the caller tries again
// later.
bool WriteRatesFile(const ByteString& page, const char* folder, time_t now);

extern const char kRatesFileName[]; // "mrvrates.zlv"
