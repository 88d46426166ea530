#include "agent/update/byte_string.h"

#include <stdlib.h>
#include <string.h>

#include "agent/owners.h"

namespace {

// String-table texts are loaded into a small zeroed block; the spare bytes stay zero.
const size_t kResourceTextSize = 128;
const int kResourceTextLimit = 124;

} // namespace

void ByteString::FormatResource(HINSTANCE module, UINT id, ...) {
    ScopedMalloc<char> format(static_cast<char*>(calloc(kResourceTextSize, 1)));
    if (!format.Held()) return;
    if (LoadStringA(module, id, format.Get(), kResourceTextLimit) <= 0) format.Get()[0] = '\0';
    va_list args;
    va_start(args, id);
    FormatV(format.Get(), args);
    va_end(args);
}
