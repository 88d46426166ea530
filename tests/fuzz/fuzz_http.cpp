// Any bytes as a server's reply: the status read from the first chunk, the header cut, the body
// bound, and the rates file built from it, checked against rules worked out independently here.
#include <limits.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <string>

#include "agent/update/http_status.h"
#include "agent/update/rates_format.h"

namespace {

void Check(bool ok) {
    if (!ok) abort();
}

// The status the way a C runtime reads a zero-terminated chunk: strchr, then strtol.
long ReferenceStatus(const uint8_t* data, size_t length) {
    char text[40];
    memcpy(text, data, length);
    text[length] = 0;
    const char* space = strchr(text, ' ');
    return space ? strtol(space + 1, nullptr, 10) : 0;
}

void CheckStatus(const uint8_t* data, size_t size) {
    // Every prefix, each in a buffer of exactly its length, so that a read past it is caught.
    size_t most = size < 33 ? size : 33;
    for (size_t n = 0; n <= most; ++n) {
        char* exact = static_cast<char*>(malloc(n ? n : 1));
        if (n) memcpy(exact, data, n);
        long status = ParseHttpStatus(exact, n);
        free(exact);
        long expected = ReferenceStatus(data, n);
        // Below the range of long the two saturate differently; both stay far from 200.
        if (expected != LONG_MIN) Check(status == expected);
        if (status == kHttpOk) Check(expected == kHttpOk);
    }
}

size_t ReferenceHeaderBytes(const uint8_t* data, size_t size) {
    const void* blank = memmem(data, size, "\r\n\r\n", 4);
    return blank ? static_cast<const uint8_t*>(blank) - data + 4 : 0;
}

// The first "Content-Length:" header line (any letter case) whose value is only digits, with
// blanks around them; -1 when there is none, -2 when it is too large for any page.
long ReferenceContentLength(const uint8_t* data, size_t headerBytes) {
    std::string head(reinterpret_cast<const char*>(data), headerBytes);
    size_t start = 0;
    while (start < head.size()) {
        size_t end = head.find('\n', start);
        if (end == std::string::npos) end = head.size();
        std::string line = head.substr(start, end - start);
        start = end + 1;
        if (line.size() < 15 || strncasecmp(line.c_str(), "content-length:", 15) != 0) continue;
        std::string value = line.substr(15);
        value.erase(0, value.find_first_not_of(" \t"));
        size_t last = value.find_last_not_of(" \t\r");
        value.erase(last == std::string::npos ? 0 : last + 1);
        if (value.empty() || value.find_first_not_of("0123456789") != std::string::npos) continue;
        value.erase(0, value.find_first_not_of('0'));
        return value.size() > 9 ? -2 : value.empty() ? 0 : atol(value.c_str());
    }
    return -1;
}

void CheckRatesImage(const uint8_t* data, size_t size) {
    RatesImage image;
    RatesResult result =
        BuildRatesFile(reinterpret_cast<const char*>(data), size, 0x12345678, &image);
    size_t skip = ReferenceHeaderBytes(data, size);
    size_t body = size - skip;
    unsigned lines = 0;
    for (size_t i = skip; i < size; ++i)
        lines += data[i] == '\n';

    long announced = ReferenceContentLength(data, skip);
    if (size == 0) {
        Check(result == kRatesEmptyResponse);
    } else if (skip == 0) {
        Check(result == kRatesNoHeaderEnd);
    } else if (announced != -1 && announced != static_cast<long>(body)) {
        Check(result == kRatesIncomplete);
    } else if (kRatesCountSize + body > kRatesBodyLimit) {
        Check(result == kRatesBodyTooLong);
    } else if (lines > kRatesLineLimit) {
        Check(result == kRatesTooManyLines);
    } else {
        Check(result == kRatesOk);
    }
    if (result != kRatesOk) {
        Check(image.bytes == nullptr && image.size == 0);
        return;
    }

    Check(image.headerBytes == skip && image.lines == lines);
    Check(image.size == kRatesHeaderSize + kRatesCountSize + body);
    const uint8_t* b = image.bytes;
    Check(memcmp(b, "kelpo\0\0\0\x78\x56\x34\x12", 12) == 0);
    char count[8];
    count[0] = static_cast<char>('0' + lines / 1000);
    count[1] = static_cast<char>('0' + lines / 100 % 10);
    count[2] = static_cast<char>('0' + lines / 10 % 10);
    count[3] = static_cast<char>('0' + lines % 10);
    count[4] = 0;
    Check(memcmp(b + kRatesHeaderSize, count, kRatesCountSize) == 0);

    // Line by line: a line feed ends the line as a zero, the line's first tab joins its first two
    // fields with a space, later tabs end fields as zeros, every other byte stays.
    const uint8_t* out = b + kRatesHeaderSize + kRatesCountSize;
    bool tabSeen = false;
    for (size_t i = 0; i < body; ++i) {
        uint8_t in = data[skip + i];
        if (in == '\n') {
            Check(out[i] == 0);
            tabSeen = false;
        } else if (in == '\t') {
            Check(out[i] == (tabSeen ? 0 : ' '));
            tabSeen = true;
        } else {
            Check(out[i] == in);
        }
    }

    // What the agent writes, the reader takes back as sound.
    RatesFileView view;
    Check(CheckRatesFile(b, image.size, &view) == nullptr);
    Check(view.magicOk && view.time == 0x12345678 && view.count == lines);
    Check(view.linesSize == body && (body == 0 || view.lines == out));
    FreeRatesImage(&image);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 2 * kResponseLimit) return 0;
    CheckStatus(data, size);

    // The header cut on a buffer of exactly the input's size.
    char* exact = static_cast<char*>(malloc(size ? size : 1));
    if (size) memcpy(exact, data, size);
    Check(RatesHeaderBytes(exact, size) == ReferenceHeaderBytes(data, size));
    unsigned lines = 0;
    RatesResult checked = CheckRatesResponse(exact, size, &lines);
    free(exact);

    CheckRatesImage(data, size);
    RatesImage again;
    Check(BuildRatesFile(reinterpret_cast<const char*>(data), size, 0, &again) == checked);
    FreeRatesImage(&again);
    return 0;
}
