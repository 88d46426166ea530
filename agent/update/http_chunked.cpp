// The chunked body of a reply, decoded a byte of framing at a time as it arrives: sizes in hex,
// extensions skipped, CR LF or a bare LF, trailers read past. The head is read in http_reply.cpp.
#include "agent/update/http_reply.h"

#include "agent/update/http_chars.h"

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    c = Lower(c);
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

} // namespace

// A framing line ends in CR LF or a bare LF: true at the LF. A CR moves to crStage; anything else,
// a second CR included, breaks the chunked body.
bool ReplyReader::LineEnds(char c, Stage crStage) {
    if (c == '\n') return true;
    if (c == '\r' && stage != crStage)
        stage = crStage;
    else
        Fail(kRatesBadChunk);
    return false;
}

size_t ReplyReader::TakeChunked(const char* bytes, size_t size) {
    if (stage == kChunkData) {
        size_t take = chunkLeft < size ? chunkLeft : size;
        if (!AddBody(bytes, take)) return size;
        chunkLeft -= take;
        if (chunkLeft == 0) stage = kChunkDataEnd;
        return take;
    }
    if (++framing > kReplyFramingLimit) {
        Fail(kRatesBadChunk);
        return size;
    }
    char c = bytes[0];
    bool sizeLineEnds = false;
    switch (stage) {
    case kChunkSize: {
        int digit = HexDigit(c);
        if (digit >= 0) {
            chunkLeft = chunkLeft * 16 + static_cast<size_t>(digit);
            ++chunkDigits;
            if (chunkLeft > kReplyBodyLimit - bodySize) Fail(kRatesBodyTooLong);
            return 1;
        }
        if (chunkDigits == 0) {
            Fail(kRatesBadChunk);
            return size;
        }
        stage = kChunkSizeEnd;
    }
        [[fallthrough]];
    case kChunkSizeEnd:
        if (Blank(c)) break;
        if (c == ';') {
            stage = kChunkExtension;
            break;
        }
        [[fallthrough]];
    case kChunkSizeCr:
        sizeLineEnds = LineEnds(c, kChunkSizeCr);
        break;
    case kChunkExtension:
        sizeLineEnds = c == '\n';
        break;
    case kChunkDataEnd:
    case kChunkDataCr:
        if (LineEnds(c, kChunkDataCr)) stage = kChunkSize;
        break;
    case kTrailerStart:
        if (c == '\n')
            Complete();
        else
            stage = c == '\r' ? kTrailerStartCr : kTrailer;
        break;
    case kTrailerStartCr:
        if (c == '\n')
            Complete();
        else
            stage = kTrailer;
        break;
    case kTrailer:
        if (c == '\n') stage = kTrailerStart;
        break;
    default:
        break;
    }
    if (sizeLineEnds) {
        stage = chunkLeft ? kChunkData : kTrailerStart;
        chunkDigits = 0;
    }
    return 1;
}
