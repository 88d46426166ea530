// The status code of a response, read from its first chunk.
#pragma once
#include <stddef.h>

enum { kHttpOk = 200 };

// The number after the first space, read as a decimal; 0 when there is no space or no digits.
// Never reads past `length`.
long ParseHttpStatus(const char* chunk, size_t length);
