// The one judge of a server's reply to the rates request: the page body, or why there is none.
// It is fed the bytes as they come, so the worker stops reading the moment a page is complete,
// and it keeps no more than the bounds below, whatever the server sends.
#pragma once
#include <stddef.h>
#include <stdint.h>

enum {
    kReplyHeadLimit = 16 * 1024, // status line, header fields and the blank line after them
    kReplyBodyLimit = 65530,     // with the 5-byte count field it fills the 16-bit record
    kReplyLineLimit = 9999,      // what the count's four digits can say
    // Size lines, extensions, line ends and trailers of a chunked body: room for a page sent a
    // byte at a time, while an endless stream of them still ends.
    kReplyFramingLimit = 512 * 1024,
    // No reply that gives a page is longer.
    kReplyLimit = kReplyHeadLimit + kReplyBodyLimit + kReplyFramingLimit,
};

enum ReplyVerdict { kReplyNeedMore, kReplyPage, kReplyNoPage };

// Why a reply gives no page; kRatesOk when it gives one.
enum RatesResult {
    kRatesOk,
    kRatesNoHeaderEnd,
    kRatesHeadersTooLong,
    kRatesNotOk,          // a status other than 200
    kRatesBadLength,      // a Content-Length that is not one decimal number
    kRatesTransferCoding, // a transfer coding other than chunked alone
    kRatesBadChunk,
    kRatesIncomplete, // closed before the end that the reply announced
    kRatesOverrun,    // bytes after the end that the reply announced
    kRatesBodyTooLong,
    kRatesTooManyLines,
    kRatesNoLine, // not one complete line: no update at all
    kRatesZeroByte,
    kRatesBroken, // a read failed, stalled or was stopped before the end
    kRatesNoMemory,
};

const char* RatesResultText(RatesResult result);

struct ReplyReader {
    ReplyReader() = default;
    ~ReplyReader();
    ReplyReader(const ReplyReader&) = delete;
    ReplyReader& operator=(const ReplyReader&) = delete;

    // The next bytes as they came. A verdict, once given, stays; only bytes beyond a complete
    // page turn it into no page.
    ReplyVerdict Feed(const char* bytes, size_t size);
    // The peer closed the connection (closed), or the reading ended otherwise: an error, a
    // reset, a stall or Stop.
    ReplyVerdict End(bool closed);

    // Hands the page over: malloc'd, `bodySize` bytes and zero bytes up to `*capacity` + 2.
    char* TakeBody(int32_t* capacity);

    ReplyVerdict verdict = kReplyNeedMore;
    RatesResult result = kRatesOk;
    const char* body = nullptr; // the page once verdict is kReplyPage
    size_t bodySize = 0;
    unsigned lines = 0;

  private:
    enum Stage {
        kHead,
        kUntilClose,
        kCounted,
        kChunkSize,
        kChunkSizeEnd,
        kChunkExtension,
        kChunkSizeCr,
        kChunkData,
        kChunkDataEnd,
        kChunkDataCr,
        kTrailerStart,
        kTrailerStartCr,
        kTrailer,
        kDone,
    };

    size_t TakeHead(const char* bytes, size_t size);
    void ReadHead();
    size_t TakeChunked(const char* bytes, size_t size);
    bool LineEnds(char c, Stage crStage);
    bool AddBody(const char* bytes, size_t size);
    bool Grow(size_t room);
    void Complete();
    void Fail(RatesResult why);
    void FreeBuffers();

    Stage stage = kHead;
    char* head = nullptr;
    size_t headSize = 0;
    size_t lineStart = 0;
    char* buffer = nullptr;
    size_t bufferRoom = 0;  // bytes of body it holds, two zero bytes not counted
    size_t announced = 0;   // Content-Length
    size_t chunkLeft = 0;   // of the chunk, or its size while the size line is read
    size_t chunkDigits = 0; // of the size line
    size_t framing = 0;
};

// The whole reply at once, then the close.
ReplyVerdict DecideReply(const char* reply, size_t size, ReplyReader* reader);
