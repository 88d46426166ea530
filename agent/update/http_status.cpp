#include "agent/update/http_status.h"

#include <limits.h>

long ParseHttpStatus(const char* chunk, size_t length) {
    size_t i = 0;
    while (i < length && chunk[i] != ' ') {
        if (chunk[i] == '\0') return 0;
        ++i;
    }
    if (i >= length) return 0;
    ++i;
    // Decimal conversion in the manner of atol, but bounded by the chunk and without overflow.
    while (i < length && (chunk[i] == ' ' || (chunk[i] >= '\t' && chunk[i] <= '\r')))
        ++i;
    bool negative = false;
    if (i < length && (chunk[i] == '+' || chunk[i] == '-')) negative = chunk[i++] == '-';
    long value = 0;
    for (; i < length && chunk[i] >= '0' && chunk[i] <= '9'; ++i) {
        int digit = chunk[i] - '0';
        value = value > (LONG_MAX - digit) / 10 ? LONG_MAX : value * 10 + digit;
    }
    return negative ? -value : value;
}
