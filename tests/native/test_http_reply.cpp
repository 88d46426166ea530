// The reply reader, the one judge of what the update server sent: each page written out here.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "agent/update/http_reply.h"

namespace {

struct Outcome {
    ReplyVerdict verdict;
    RatesResult result;
    std::string page;
};

Outcome Take(const ReplyReader& reader) {
    std::string page;
    if (reader.verdict == kReplyPage) page.assign(reader.body, reader.bodySize);
    return {reader.verdict, reader.result, page};
}

// The whole reply, then the close; and again a byte at a time, which must come out the same.
Outcome Decide(const std::string& reply, bool closed = true) {
    std::vector<char> exact(reply.begin(), reply.end()); // a read past it trips the sanitizer
    ReplyReader whole;
    whole.Feed(exact.data(), exact.size());
    whole.End(closed);
    ReplyReader bytes;
    for (char c : reply)
        bytes.Feed(&c, 1);
    bytes.End(closed);
    Outcome a = Take(whole), b = Take(bytes);
    EXPECT_EQ(a.verdict, b.verdict) << reply.substr(0, 60);
    EXPECT_EQ(a.result, b.result) << reply.substr(0, 60);
    EXPECT_EQ(a.page, b.page);
    return a;
}

std::string Page(const std::string& reply) {
    Outcome o = Decide(reply);
    EXPECT_EQ(kReplyPage, o.verdict) << RatesResultText(o.result) << ": " << reply.substr(0, 80);
    return o.page;
}

RatesResult Refused(const std::string& reply, bool closed = true) {
    Outcome o = Decide(reply, closed);
    EXPECT_EQ(kReplyNoPage, o.verdict) << reply.substr(0, 80);
    return o.result;
}

const std::string kChunked = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
const std::string kPlain = "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n";

} // namespace

TEST(ReplyChunked, ChunksAreJoinedWhateverTheirFraming) {
    // Several chunks; an extension; upper-case hex with leading zeros; a bare LF after a size
    // line and after a chunk; a chunk that ends inside a line; a trailer after the last chunk.
    EXPECT_EQ("USD\t1.0\nEUR\t0.921\nCHF\t0.88\n",
              Page(kChunked + "8\r\nUSD\t1.0\n\r\n00A;name=\"v\"\r\nEUR\t0.921\n\r\n6\nCHF\t0.\n" +
                   "3\r\n88\n\r\n0\r\nX-Checksum: 1\r\n\r\n"));
    EXPECT_EQ("A\tB\n", Page("HTTP/1.1 200 OK\r\ntransfer-encoding:  Chunked \r\n\r\n"
                             "4 ;x\r\nA\tB\n\r\n0\r\n\r\n"));
    // The coding decides where the page ends, not a Content-Length beside it.
    EXPECT_EQ("A\tB\n", Page("HTTP/1.1 200 OK\r\nContent-Length: 99\r\nTransfer-Encoding: "
                             "chunked\r\n\r\n4\r\nA\tB\n\r\n0\r\n\r\n"));
}

TEST(ReplyChunked, MalformedCutOrUnknownCodingsAreNoPage) {
    const std::string good = "4\r\nA\tB\n\r\n";
    for (const char* size : {"x\r\n", " 4\r\n", "-4\r\n", "4x\r\n", "\r\n", "4\r\r\n"})
        EXPECT_EQ(kRatesBadChunk, Refused(kChunked + good + size + "A\tB\n\r\n0\r\n\r\n")) << size;
    EXPECT_EQ(kRatesBadChunk, Refused(kChunked + "2\r\nA\tB\n\r\n0\r\n\r\n"))
        << "longer than its size";
    EXPECT_EQ(kRatesBadChunk, Refused(kChunked + "4;" + std::string(600 * 1024, 'e')));
    // Cut inside a chunk, before the last chunk, inside the trailers.
    EXPECT_EQ(kRatesIncomplete, Refused(kChunked + "8\r\nUSD\t1"));
    EXPECT_EQ(kRatesIncomplete, Refused(kChunked + good));
    EXPECT_EQ(kRatesIncomplete, Refused(kChunked + good + "0\r\nX-Checksum: 1\r\n"));
    for (const char* coding : {"gzip, chunked", "identity", "chunked, chunked", ""})
        EXPECT_EQ(kRatesTransferCoding,
                  Refused("HTTP/1.1 200 OK\r\nTransfer-Encoding: " + std::string(coding) +
                          "\r\n\r\n" + good + "0\r\n\r\n"))
            << coding;
    EXPECT_EQ(kRatesTransferCoding, Refused("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n"
                                            " , gzip\r\n\r\n" +
                                            good + "0\r\n\r\n"));
}

TEST(ReplyHead, EndsAtTheFirstBlankLineWithOrWithoutCarriageReturns) {
    EXPECT_EQ("A\tB\n", Page("HTTP/1.0 200 OK\nContent-Type: text/plain\n\nA\tB\n"));
    EXPECT_EQ("\r\nA\tB\n", Page("HTTP/1.0 200 OK\r\n\n\r\nA\tB\n"));
    EXPECT_EQ(kRatesNoHeaderEnd, Refused("HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\nA\tB\n"));
    EXPECT_EQ(kRatesNoHeaderEnd, Refused(""));
    EXPECT_EQ(kRatesNotOk, Refused("HTTP/1.0 404 Not Found\r\n\r\nA\tB\n"));
    EXPECT_EQ(kRatesNotOk, Refused("\r\nHTTP/1.0 200 OK\r\n\r\nA\tB\n")) << "no status line";
    EXPECT_EQ(kRatesNotOk, Refused("HTTP/1.0\r\n200 OK\r\n\r\nA\tB\n"));
}

TEST(ReplyLength, ThePageEndsExactlyWhereTheContentLengthSays) {
    EXPECT_EQ("USD\t1.0\n", Page("HTTP/1.0 200 OK\r\nContent-Length: 8\r\n\r\nUSD\t1.0\n"));
    EXPECT_EQ("USD\t1.0\n", Page("HTTP/1.0 200 OK\r\ncontent-LENGTH:\t008 \r\n\r\nUSD\t1.0\n"));
    EXPECT_EQ("USD\t1.0\n", Page("HTTP/1.0 200 OK\r\nContent-Length: 8\r\nContent-Length: 8\r\n"
                                 "\r\nUSD\t1.0\n"));
    EXPECT_EQ(kRatesIncomplete, Refused("HTTP/1.0 200 OK\r\nContent-Length: 9\r\n\r\nUSD\t1.0\n"));
    EXPECT_EQ(kRatesOverrun, Refused("HTTP/1.0 200 OK\r\nContent-Length: 4\r\n\r\nA\tB\nC\tD\n"));
    EXPECT_EQ(kRatesNoLine, Refused("HTTP/1.0 200 OK\r\nContent-Length: 0\r\n\r\n"));
    for (const char* value : {"", "12abc", "-5", "1 2", "8, 8"})
        EXPECT_EQ(kRatesBadLength, Refused("HTTP/1.0 200 OK\r\nContent-Length: " +
                                           std::string(value) + "\r\n\r\nUSD\t1.0\n"))
            << value;
    EXPECT_EQ(kRatesBodyTooLong, Refused("HTTP/1.0 200 OK\r\nContent-Length: 18446744073709551624"
                                         "\r\n\r\nUSD\t1.0\n"))
        << "2^64 + 8 is not 8";
    EXPECT_EQ(kRatesBadLength, Refused("HTTP/1.0 200 OK\r\nContent-Length: 8\r\nContent-Length: "
                                       "9\r\n\r\nUSD\t1.0\n"));
    // Names that only look alike are other fields.
    EXPECT_EQ("USD\t1.0\n", Page("HTTP/1.0 200 OK\r\nX-Content-Length: 3\r\nContent-Length 3\r\n"
                                 "\r\nUSD\t1.0\n"));
}

TEST(ReplyLength, AWholePageIsTakenBeforeTheServerClosesAndNotABitEarlier) {
    const std::string reply = "HTTP/1.1 200 OK\r\nContent-Length: 8\r\n\r\nUSD\t1.0\n";
    ReplyReader reader;
    for (size_t i = 0; i + 1 < reply.size(); ++i)
        ASSERT_EQ(kReplyNeedMore, reader.Feed(&reply[i], 1)) << i;
    EXPECT_EQ(kReplyPage, reader.Feed(&reply.back(), 1));
    EXPECT_EQ(kReplyPage, reader.End(false)) << "a page already whole stays whole";

    const std::string chunked = kChunked + "4\r\nA\tB\n\r\n0\r\n\r\n";
    ReplyReader second;
    EXPECT_EQ(kReplyNeedMore, second.Feed(chunked.data(), chunked.size() - 1));
    EXPECT_EQ(kReplyPage, second.Feed("\n", 1));
}

TEST(ReplyBounds, SixteenKibOfHeadersAndAFullRecordAreTheMost) {
    // 17 + 7 + 16356 + 2 + 2 = 16384 bytes of head; 6553 lines of 10 bytes = 65530 bytes of page.
    std::string page;
    for (int i = 0; i < 6553; ++i)
        page += "ABC\t1.234\n";
    ASSERT_EQ(65530u, page.size());
    auto head = [](size_t pad, const char* length) {
        return "HTTP/1.0 200 OK\r\nX-Pad: " + std::string(pad, 'p') + "\r\n" + length + "\r\n";
    };
    EXPECT_EQ(page, Page(head(16356, "") + page));
    EXPECT_EQ(page, Page(head(16356 - 23, "Content-Length: 65530\r\n") + page));
    EXPECT_EQ(kRatesHeadersTooLong, Refused(head(16357, "") + page));
    EXPECT_EQ(kRatesBodyTooLong, Refused(head(16356, "") + page + "X"));
    EXPECT_EQ(kRatesBodyTooLong, Refused(head(0, "Content-Length: 65531\r\n") + page + "X"));
    EXPECT_EQ(kRatesBodyTooLong, Refused(kChunked + "FFFB\r\n" + page + "X"));

    EXPECT_EQ(std::string(9999, '\n'), Page(kPlain + std::string(9999, '\n')));
    EXPECT_EQ(kRatesTooManyLines, Refused(kPlain + std::string(10000, '\n')));
}

TEST(ReplyBody, WhatIsNoUpdateIsNoPage) {
    EXPECT_EQ(kRatesNoLine, Refused(kPlain));
    EXPECT_EQ(kRatesNoLine, Refused(kPlain + "USD\tUS Dollar\t1.0000"));
    EXPECT_EQ("A\tB\nC", Page(kPlain + "A\tB\nC")) << "an open last line after a complete one";
    // A zero byte refuses the page wherever it stands, whatever the reply's length.
    for (size_t pad = 0; pad < 40; ++pad) {
        EXPECT_EQ(kRatesZeroByte,
                  Refused(kPlain + std::string(pad, 'x') + "\tB\n" + std::string(1, '\0')))
            << pad;
        EXPECT_EQ(kRatesZeroByte,
                  Refused(kPlain + std::string(pad, 'x') + std::string(1, '\0') + "\tB\n"))
            << pad;
    }
    EXPECT_EQ(kRatesZeroByte, Refused(kChunked + std::string("4\r\nA\0B\n\r\n0\r\n\r\n", 14)));
    // Without a length the close ends the page; a reading that broke off first gives none.
    EXPECT_EQ(kRatesBroken, Refused(kPlain + "A\tB\n", false));
    EXPECT_EQ(kRatesBroken, Refused("HTTP/1.0 200 OK\r\nContent-Length: 4\r\n\r\nA\tB", false));
}
