// The rates file's layout, shared by the agent's writer and the support tool.
#pragma once
#include <stddef.h>
#include <stdint.h>

enum {
    kRatesHeaderSize = 12,
    kRatesCountSize = 5,     // "%04d" and its zero byte
    kRatesBodyLimit = 65535, // the handheld record's byte count is 16 bits wide
    kRatesLineLimit = 9999,  // what four digits can count
    // The most the downloader keeps of one response: a full rates body plus generous headers.
    kResponseLimit = 72 * 1024,
};

enum RatesResult {
    kRatesOk,
    kRatesEmptyResponse,
    kRatesBodyTooLong,
    kRatesTooManyLines,
    kRatesNoMemory,
    kRatesNoHeaderEnd, // no blank line: the headers never ended, so there is no page
    kRatesIncomplete,  // the page's length is not the one its Content-Length promised
};

const char* RatesResultText(RatesResult result);

// Bytes before the page body: up to and including the first "\r\n\r\n", or 0 when there is none.
size_t RatesHeaderBytes(const char* response, size_t length);

// Rewrites tabs and line feeds in place; returns the number of line feeds.
unsigned RewriteRateLines(char* body, size_t length);

// The Content-Length of the headers before `headerBytes`, or -1 when there is none that reads.
long RatesContentLength(const char* response, size_t headerBytes);

// Whether the page inside a response is whole and can travel to the handheld at all.
RatesResult CheckRatesResponse(const char* response, size_t length, unsigned* lines);

struct RatesImage {
    uint8_t* bytes; // malloc'd; FreeRatesImage releases it
    size_t size;
    unsigned lines;
    size_t headerBytes; // of the response, cut off
};

// The whole file for one response, written at `time`; nothing is allocated unless kRatesOk.
RatesResult BuildRatesFile(const char* response, size_t length, int32_t time, RatesImage* image);
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
