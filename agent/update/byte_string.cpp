#include "agent/update/byte_string.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "agent/owners.h"

ByteString& ByteString::Assign(const char* text) {
    if (!text) return *this;
    size_t n = strlen(text);
    if (n == 0) {
        if (data) data[0] = '\0';
        return *this;
    }
    if (n > INT32_MAX - 2 || !Reserve(static_cast<int32_t>(n))) return *this;
    memcpy(data, text, n + 1);
    return *this;
}

ByteString& ByteString::Append(const char* text) {
    if (!text || !*text) return *this;
    size_t add = strlen(text);
    int32_t cap = Capacity();
    if (add > static_cast<size_t>(INT32_MAX - 2 - cap)) return *this;
    unsigned len = Length();
    // Grows from the capacity, not the length: exact fit to what was asked for.
    if (!Reserve(cap + static_cast<int32_t>(add))) return *this;
    memcpy(data + len, text, add + 1);
    return *this;
}

unsigned ByteString::Length() const {
    return data ? static_cast<unsigned>(strlen(data)) : 0;
}

int ByteString::Compare(const char* text) const {
    const char* mine = data ? data : "";
#ifdef _WIN32
    return lstrcmpA(mine, text ? text : "");
#else
    return strcmp(mine, text ? text : "");
#endif
}

void ByteString::Format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    FormatV(format, args);
    va_end(args);
}

void ByteString::FormatV(const char* format, va_list args) {
    ScopedMalloc<char> scratch(static_cast<char*>(malloc(kFormatLimit + 2)));
    char* temp = scratch.Get();
    if (!temp) return;
    memset(temp, 0, kFormatLimit);
    temp[kFormatLimit] = temp[kFormatLimit + 1] = '\0';
    // vsnprintf counts the terminator; the cut keeps the first 510 characters.
    int produced = vsnprintf(temp, kFormatLimit + 1, format ? format : "", args);
    if (produced < 0) produced = 0;
    if (produced > kFormatLimit) produced = kFormatLimit;
    temp[produced] = '\0';
    if (produced == 0) {
        if (data) data[0] = '\0';
    } else if (Reserve(produced)) {
        memcpy(data, temp, static_cast<size_t>(produced) + 1);
    }
}

bool ByteString::Reserve(int32_t n) {
    int32_t cap = Capacity();
    if (cap >= n) return true;
    if (n < 0 || n > INT32_MAX - 2) return false;
    char* fresh = static_cast<char*>(malloc(static_cast<size_t>(n) + 2));
    if (!fresh) return false;
    memset(fresh, 0, static_cast<size_t>(n) + 2);
    if (data) {
        memcpy(fresh, data, static_cast<size_t>(cap));
        free(data);
    }
    data = fresh;
    capacity = n;
    return true;
}

void ByteString::ToLower() {
    if (!data) return;
    for (unsigned i = 0; i < Length(); ++i)
        if (data[i] >= 'A' && data[i] <= 'Z') data[i] = static_cast<char>(data[i] - 'A' + 'a');
}

void ByteString::Release() {
    free(data);
    data = nullptr;
    capacity = 0;
}

void ByteString::Adopt(char* buffer, int32_t capacity) {
    Release();
    if (!buffer) return;
    data = buffer;
    this->capacity = capacity;
}
