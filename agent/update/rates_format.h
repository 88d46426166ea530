// The rates file's layout, shared by the agent's writer and the support tool.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include "agent/update/http_reply.h"

enum {
    kRatesHeaderSize = 12,
    kRatesCountSize = 5,     // "%04d" and its zero byte
    kRatesBodyLimit = 65535, // the handheld record's byte count is 16 bits wide
};
static_assert(kReplyBodyLimit + kRatesCountSize == kRatesBodyLimit, "a full page fills a record");

// Rewrites tabs and line feeds in place; returns the number of line feeds.
unsigned RewriteRateLines(char* body, size_t length);

struct RatesImage {
    uint8_t* bytes; // malloc'd; FreeRatesImage releases it
    size_t size;
    unsigned lines;
};

// The whole file for a page body that the reply reader gave, written at `time`. Refuses only
// what the file cannot hold; nothing is allocated unless kRatesOk.
RatesResult BuildRatesImage(const char* body, size_t size, int32_t time, RatesImage* image);
// The same for a whole reply, judged by the reply reader first.
RatesResult BuildRatesFile(const char* reply, size_t size, int32_t time, RatesImage* image);
void FreeRatesImage(RatesImage* image);

// Reading a file back, as the support tool shows it.
struct RatesFileView {
    bool magicOk;
    int32_t time;
    unsigned count;
    const uint8_t* lines; // the rewritten lines, after the count field
    size_t linesSize;
};

// The conduit's test: "kelpo" without regard to case, then a zero byte.
bool RatesMagicOk(const uint8_t* header, size_t size);

// Fills what it could read; returns null for a sound file, else what is wrong with it.
const char* CheckRatesFile(const uint8_t* data, size_t size, RatesFileView* view);
