#include "agent/update/http_reply.h"

#include <stdlib.h>
#include <string.h>

#include "agent/update/http_chars.h"
#include "agent/update/http_status.h"

namespace {

enum { kFirstBodyRoom = 4096 };

bool SameWord(const char* text, size_t length, const char* word) {
    size_t n = strlen(word);
    if (length != n) return false;
    for (size_t i = 0; i < n; ++i)
        if (Lower(text[i]) != word[i]) return false;
    return true;
}

struct Span {
    const char* text;
    size_t length;
};

Span Trim(const char* text, size_t length) {
    while (length && Blank(*text)) {
        ++text;
        --length;
    }
    while (length && Blank(text[length - 1]))
        --length;
    return {text, length};
}

// Digits only; anything above the body bound counts as just above it, so no value overflows.
bool ReadLength(Span value, size_t* length) {
    if (value.length == 0) return false;
    size_t n = 0;
    for (size_t i = 0; i < value.length; ++i) {
        char c = value.text[i];
        if (c < '0' || c > '9') return false;
        n = n * 10 + static_cast<size_t>(c - '0');
        if (n > kReplyBodyLimit) n = kReplyBodyLimit + 1;
    }
    *length = n;
    return true;
}

// Counts the codings of one Transfer-Encoding value; false when one is not chunked.
bool CountCodings(Span value, unsigned* codings) {
    size_t start = 0;
    while (start <= value.length) {
        const char* comma =
            static_cast<const char*>(memchr(value.text + start, ',', value.length - start));
        size_t end = comma ? static_cast<size_t>(comma - value.text) : value.length;
        Span coding = Trim(value.text + start, end - start);
        if (coding.length) {
            if (!SameWord(coding.text, coding.length, "chunked")) return false;
            ++*codings;
        }
        start = end + 1;
    }
    return true;
}

} // namespace

const char* RatesResultText(RatesResult result) {
    switch (result) {
    case kRatesOk:
        return "ok";
    case kRatesNoHeaderEnd:
        return "the headers do not end in a blank line";
    case kRatesHeadersTooLong:
        return "the headers are longer than 16 KiB";
    case kRatesNotOk:
        return "the status is not 200";
    case kRatesBadLength:
        return "the Content-Length is not one decimal number";
    case kRatesTransferCoding:
        return "a transfer coding other than chunked";
    case kRatesBadChunk:
        return "the chunked body is malformed";
    case kRatesIncomplete:
        return "the page ends before its announced end";
    case kRatesOverrun:
        return "bytes follow the page's announced end";
    case kRatesBodyTooLong:
        return "the page is longer than a handheld record can hold";
    case kRatesTooManyLines:
        return "the page has more than 9999 lines";
    case kRatesNoLine:
        return "the page has no complete line";
    case kRatesZeroByte:
        return "the reply holds a zero byte";
    case kRatesBroken:
        return "the reading broke off before the end";
    case kRatesNoMemory:
        return "out of memory";
    }
    return "unknown";
}

ReplyReader::~ReplyReader() {
    FreeBuffers();
}

void ReplyReader::FreeBuffers() {
    free(head);
    head = nullptr;
    free(buffer);
    buffer = nullptr;
    body = nullptr;
    bufferRoom = 0;
}

void ReplyReader::Fail(RatesResult why) {
    verdict = kReplyNoPage;
    result = why;
    stage = kDone;
    bodySize = 0;
    lines = 0;
    FreeBuffers();
}

void ReplyReader::Complete() {
    stage = kDone;
    if (lines == 0) {
        Fail(kRatesNoLine);
        return;
    }
    verdict = kReplyPage;
    body = buffer;
}

char* ReplyReader::TakeBody(int32_t* capacity) {
    if (verdict != kReplyPage || !buffer) return nullptr;
    char* page = buffer;
    memset(page + bodySize, 0, bufferRoom + 2 - bodySize);
    *capacity = static_cast<int32_t>(bufferRoom);
    buffer = nullptr;
    body = nullptr;
    bufferRoom = 0;
    return page;
}

bool ReplyReader::Grow(size_t room) {
    char* grown = static_cast<char*>(realloc(buffer, room + 2));
    if (!grown) {
        Fail(kRatesNoMemory);
        return false;
    }
    buffer = grown;
    bufferRoom = room;
    buffer[bodySize] = '\0';
    return true;
}

bool ReplyReader::AddBody(const char* bytes, size_t size) {
    for (size_t i = 0; i < size; ++i) {
        if (bytes[i] == '\0') {
            Fail(kRatesZeroByte);
            return false;
        }
        if (bodySize + i >= kReplyBodyLimit) {
            Fail(kRatesBodyTooLong);
            return false;
        }
        if (bytes[i] == '\n' && ++lines > kReplyLineLimit) {
            Fail(kRatesTooManyLines);
            return false;
        }
    }
    if (bodySize + size > bufferRoom) {
        size_t room = bufferRoom ? bufferRoom : size_t(kFirstBodyRoom);
        while (room < bodySize + size)
            room *= 2;
        if (room > kReplyBodyLimit) room = kReplyBodyLimit;
        if (!Grow(room)) return false;
    }
    memcpy(buffer + bodySize, bytes, size);
    bodySize += size;
    buffer[bodySize] = '\0';
    return true;
}

ReplyVerdict ReplyReader::Feed(const char* bytes, size_t size) {
    if (size == 0 || verdict == kReplyNoPage) return verdict;
    if (verdict == kReplyPage) {
        Fail(kRatesOverrun);
        return verdict;
    }
    while (size && verdict == kReplyNeedMore) {
        size_t used;
        switch (stage) {
        case kHead:
            used = TakeHead(bytes, size);
            break;
        case kUntilClose:
            used = size;
            AddBody(bytes, size);
            break;
        case kCounted:
            used = announced - bodySize < size ? announced - bodySize : size;
            if (AddBody(bytes, used) && bodySize == announced) Complete();
            break;
        default:
            used = TakeChunked(bytes, size);
            break;
        }
        bytes += used;
        size -= used;
    }
    if (size && verdict == kReplyPage) Fail(kRatesOverrun);
    return verdict;
}

ReplyVerdict ReplyReader::End(bool closed) {
    if (verdict != kReplyNeedMore) return verdict;
    if (!closed)
        Fail(kRatesBroken);
    else if (stage == kHead)
        Fail(kRatesNoHeaderEnd);
    else if (stage == kUntilClose)
        Complete();
    else
        Fail(kRatesIncomplete);
    return verdict;
}

size_t ReplyReader::TakeHead(const char* bytes, size_t size) {
    if (!head) {
        head = static_cast<char*>(malloc(kReplyHeadLimit));
        if (!head) {
            Fail(kRatesNoMemory);
            return size;
        }
    }
    for (size_t i = 0; i < size; ++i) {
        char c = bytes[i];
        if (c == '\0') {
            Fail(kRatesZeroByte);
            return size;
        }
        if (headSize == kReplyHeadLimit) {
            Fail(kRatesHeadersTooLong);
            return size;
        }
        head[headSize++] = c;
        if (c != '\n') continue;
        size_t line = headSize - 1 - lineStart;
        if (line == 0 || (line == 1 && head[lineStart] == '\r')) {
            ReadHead();
            return i + 1;
        }
        lineStart = headSize;
    }
    return size;
}

// The status, then the fields that say where the body ends.
void ReplyReader::ReadHead() {
    enum Field { kOther, kLength, kCoding } last = kOther;
    bool hasLength = false, hasCoding = false;
    unsigned codings = 0;
    size_t length = 0;
    RatesResult fault = kRatesOk;
    bool first = true;
    for (size_t start = 0; start < lineStart && fault == kRatesOk;) {
        const char* lf = static_cast<const char*>(memchr(head + start, '\n', lineStart - start));
        size_t end = static_cast<size_t>(lf - head);
        const char* text = head + start;
        size_t n = end - start;
        start = end + 1;
        if (n && text[n - 1] == '\r') --n;
        if (first) {
            first = false;
            if (ParseHttpStatus(text, n) != kHttpOk) fault = kRatesNotOk;
            continue;
        }
        if (n && Blank(text[0])) { // a folded line belongs to the field before it
            if (last == kLength) fault = kRatesBadLength;
            if (last == kCoding) fault = kRatesTransferCoding;
            continue;
        }
        const char* colon = static_cast<const char*>(memchr(text, ':', n));
        last = kOther;
        if (!colon) continue;
        size_t nameLength = static_cast<size_t>(colon - text);
        Span value = Trim(colon + 1, n - nameLength - 1);
        if (SameWord(text, nameLength, "content-length")) {
            last = kLength;
            size_t valueLength = 0;
            if (!ReadLength(value, &valueLength) || (hasLength && valueLength != length))
                fault = kRatesBadLength;
            hasLength = true;
            length = valueLength;
        } else if (SameWord(text, nameLength, "transfer-encoding")) {
            last = kCoding;
            hasCoding = true;
            if (!CountCodings(value, &codings)) fault = kRatesTransferCoding;
        }
    }
    if (first) fault = kRatesNotOk; // a blank first line: no status at all
    if (fault == kRatesOk && hasCoding && codings != 1) fault = kRatesTransferCoding;
    free(head);
    head = nullptr;
    if (fault != kRatesOk) {
        Fail(fault);
    } else if (hasCoding) {
        stage = kChunkSize; // the coding decides; a Content-Length beside it says nothing
    } else if (hasLength) {
        announced = length;
        stage = kCounted;
        if (length > kReplyBodyLimit)
            Fail(kRatesBodyTooLong);
        else if (length == 0)
            Complete();
        else
            Grow(length);
    } else {
        stage = kUntilClose;
    }
}

ReplyVerdict DecideReply(const char* reply, size_t size, ReplyReader* reader) {
    reader->Feed(reply, size);
    return reader->End(true);
}
