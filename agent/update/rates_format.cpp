#include "agent/update/rates_format.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "agent/owners.h"

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

RatesResult BuildRatesImage(const char* body, size_t size, int32_t time, RatesImage* image) {
    memset(image, 0, sizeof *image);
    if (size > kReplyBodyLimit) return kRatesBodyTooLong;
    size_t fileSize = kRatesHeaderSize + kRatesCountSize + size;
    ScopedMalloc<uint8_t> file(static_cast<uint8_t*>(calloc(fileSize, 1)));
    uint8_t* bytes = file.Get();
    if (!bytes) return kRatesNoMemory;
    char* text = reinterpret_cast<char*>(bytes) + kRatesHeaderSize + kRatesCountSize;
    if (size) memcpy(text, body, size);
    unsigned lines = RewriteRateLines(text, size);
    if (lines > kReplyLineLimit) return kRatesTooManyLines;
    memcpy(bytes, kMagic, 5); // bytes 5 to 7 stay zero: the magic's two zeros and the padding
    PutLittle32(bytes + 8, time);
    char count[8];
    snprintf(count, sizeof count, "%04u", lines);
    memcpy(bytes + kRatesHeaderSize, count, kRatesCountSize);
    image->bytes = file.Detach();
    image->size = fileSize;
    image->lines = lines;
    return kRatesOk;
}

RatesResult BuildRatesFile(const char* reply, size_t size, int32_t time, RatesImage* image) {
    memset(image, 0, sizeof *image);
    ReplyReader reader;
    if (DecideReply(reply, size, &reader) != kReplyPage) return reader.result;
    return BuildRatesImage(reader.body, reader.bodySize, time, image);
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
