#include "agent/update/rates_format.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

const char kMagic[] = "kelpo";

void PutLittle32(uint8_t* to, int32_t value) {
    uint32_t v = static_cast<uint32_t>(value);
    for (int i = 0; i < 4; ++i)
        to[i] = static_cast<uint8_t>(v >> (8 * i));
}

int32_t GetLittle32(const uint8_t* from) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = (v << 8) | from[i];
    return static_cast<int32_t>(v);
}

} // namespace

const char* RatesResultText(RatesResult result) {
    switch (result) {
    case kRatesOk:
        return "ok";
    case kRatesEmptyResponse:
        return "the response is empty";
    case kRatesBodyTooLong:
        return "the page is longer than a handheld record can hold";
    case kRatesTooManyLines:
        return "the page has more than 9999 lines";
    case kRatesNoMemory:
        return "out of memory";
    case kRatesNoHeaderEnd:
        return "the headers do not end in a blank line";
    case kRatesIncomplete:
        return "the page is not as long as its Content-Length says";
    }
    return "unknown";
}

size_t RatesHeaderBytes(const char* response, size_t length) {
    for (size_t i = 0; i + 4 <= length; ++i)
        if (memcmp(response + i, "\r\n\r\n", 4) == 0) return i + 4;
    return 0;
}

unsigned RewriteRateLines(char* body, size_t length) {
    unsigned lines = 0;
    int column = 1;
    for (size_t i = 0; i < length; ++i) {
        char c = body[i];
        if (c != '\t' && c != '\n') continue;
        if (c == '\n') {
            column = 0;
            ++lines;
        }
        ++column;
        // Only the first tab of a line stays visible: it joins the first two fields.
        body[i] = column == 2 ? ' ' : '\0';
    }
    return lines;
}

long RatesContentLength(const char* response, size_t headerBytes) {
    static const char kName[] = "content-length:";
    const size_t nameLength = sizeof kName - 1;
    for (size_t line = 0; line < headerBytes;) {
        size_t end = line;
        while (end < headerBytes && response[end] != '\n')
            ++end;
        size_t i = line;
        size_t matched = 0;
        for (; matched < nameLength && i < end; ++matched, ++i) {
            char c = response[i];
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
            if (c != kName[matched]) break;
        }
        if (matched == nameLength) {
            while (i < end && (response[i] == ' ' || response[i] == '\t'))
                ++i;
            long value = 0;
            size_t digits = 0;
            for (; i < end && response[i] >= '0' && response[i] <= '9'; ++i, ++digits)
                if (value < 100000000) value = value * 10 + (response[i] - '0');
            while (i < end && (response[i] == ' ' || response[i] == '\t' || response[i] == '\r'))
                ++i;
            if (digits && i == end) return value;
        }
        line = end + 1;
    }
    return -1;
}

RatesResult CheckRatesResponse(const char* response, size_t length, unsigned* lines) {
    *lines = 0;
    if (!response || length == 0) return kRatesEmptyResponse;
    size_t skip = RatesHeaderBytes(response, length);
    // Headers cut short by a reset read like a response that closed normally; either way the
    // status line and headers would reach the handheld as rates.
    if (skip == 0) return kRatesNoHeaderEnd;
    size_t body = length - skip;
    // A page cut short is only known by the length that the server announced.
    long announced = RatesContentLength(response, skip);
    if (announced >= 0 && static_cast<size_t>(announced) != body) return kRatesIncomplete;
    if (body > static_cast<size_t>(kRatesBodyLimit - kRatesCountSize)) return kRatesBodyTooLong;
    unsigned count = 0;
    for (size_t i = skip; i < length; ++i)
        count += response[i] == '\n';
    *lines = count;
    return count > kRatesLineLimit ? kRatesTooManyLines : kRatesOk;
}

RatesResult BuildRatesFile(const char* response, size_t length, int32_t time, RatesImage* image) {
    memset(image, 0, sizeof *image);
    unsigned lines = 0;
    RatesResult result = CheckRatesResponse(response, length, &lines);
    if (result != kRatesOk) return result;
    size_t skip = RatesHeaderBytes(response, length);
    size_t body = length - skip;
    size_t size = kRatesHeaderSize + kRatesCountSize + body;
    uint8_t* bytes = static_cast<uint8_t*>(calloc(size, 1));
    if (!bytes) return kRatesNoMemory;

    memcpy(bytes, kMagic, 5); // bytes 5 to 7 stay zero: the magic's two zeros and the padding
    PutLittle32(bytes + 8, time);
    char count[8];
    snprintf(count, sizeof count, "%04u", lines);
    memcpy(bytes + kRatesHeaderSize, count, kRatesCountSize);
    char* text = reinterpret_cast<char*>(bytes) + kRatesHeaderSize + kRatesCountSize;
    if (body) memcpy(text, response + skip, body);
    RewriteRateLines(text, body);

    image->bytes = bytes;
    image->size = size;
    image->lines = lines;
    image->headerBytes = skip;
    return kRatesOk;
}

void FreeRatesImage(RatesImage* image) {
    free(image->bytes);
    memset(image, 0, sizeof *image);
}

bool RatesMagicOk(const uint8_t* header, size_t size) {
    if (size < 6) return false;
    for (int i = 0; i < 5; ++i) {
        uint8_t c = header[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<uint8_t>(c - 'A' + 'a');
        if (c != static_cast<uint8_t>(kMagic[i])) return false;
    }
    return header[5] == 0;
}

const char* CheckRatesFile(const uint8_t* data, size_t size, RatesFileView* view) {
    memset(view, 0, sizeof *view);
    if (size < kRatesHeaderSize) return "shorter than the 12-byte header";
    view->magicOk = RatesMagicOk(data, size);
    view->time = GetLittle32(data + 8);
    if (!view->magicOk) return "bad magic: not \"kelpo\" and a zero byte";
    if (size < kRatesHeaderSize + kRatesCountSize) return "no line count after the header";
    const uint8_t* count = data + kRatesHeaderSize;
    for (int i = 0; i < 4; ++i) {
        if (count[i] < '0' || count[i] > '9') return "line count is not four digits";
        view->count = view->count * 10 + (count[i] - '0');
    }
    if (count[4] != 0) return "line count is not followed by a zero byte";
    view->lines = data + kRatesHeaderSize + kRatesCountSize;
    view->linesSize = size - kRatesHeaderSize - kRatesCountSize;
    if (size - kRatesHeaderSize > kRatesBodyLimit) return "longer than a handheld record can hold";
    // Every counted line ends in a zero byte, so there are at least as many zeros as lines.
    size_t zeros = 0;
    for (size_t i = 0; i < view->linesSize; ++i)
        zeros += view->lines[i] == 0;
    if (zeros < view->count) return "fewer line ends than the line count says";
    return nullptr;
}
