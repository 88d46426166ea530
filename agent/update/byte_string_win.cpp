#include "agent/update/byte_string.h"

#include <stdlib.h>
#include <string.h>

void ByteString::FormatResource(HINSTANCE module, UINT id, ...) {
    char* format = static_cast<char*>(calloc(128, 1));
    if (!format) return;
    if (LoadStringA(module, id, format, 124) <= 0) format[0] = '\0';
    va_list args;
    va_start(args, id);
    FormatV(format, args);
    va_end(args);
    free(format);
}
