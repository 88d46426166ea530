// Replies cut short or malformed on the way from the update server: none of them may become a
// rates file. These are the responses that the fault matrix sends, as the agent receives them.
#include <gtest/gtest.h>

#include <string>

#include "agent/update/rates_format.h"

namespace {

const std::string kPage = "USD\tUS Dollar\t1.0000\nEUR\tEuro\t0.9215\n";

RatesResult Check(const std::string& response) {
    unsigned lines = 0;
    RatesResult result = CheckRatesResponse(response.data(), response.size(), &lines);
    RatesImage image;
    // The file writer and zlvtool decide the same way.
    EXPECT_EQ(result, BuildRatesFile(response.data(), response.size(), 0, &image)) << response;
    FreeRatesImage(&image);
    return result;
}

std::string WithLength(const std::string& lengthLine, const std::string& body) {
    return "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n" + lengthLine + "\r\n\r\n" + body;
}

} // namespace

TEST(CutReplies, HeadersWithoutTheirBlankLineAreNoPage) {
    // A reset inside the headers reads, under some socket layers, exactly like a close.
    EXPECT_EQ(kRatesNoHeaderEnd, Check("HTTP/1.0 200 OK\r\nContent-Type: text/pl"));
    EXPECT_EQ(kRatesNoHeaderEnd, Check("HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n" + kPage));
    // Bare line feeds never end the headers either.
    EXPECT_EQ(kRatesNoHeaderEnd, Check("HTTP/1.0 200 OK\n\n" + kPage));
    EXPECT_EQ(kRatesOk, Check("HTTP/1.0 200 OK\r\n\r\n" + kPage));
}

TEST(CutReplies, AnnouncedLengthMustBeTheLengthThatCame) {
    std::string n = std::to_string(kPage.size());
    EXPECT_EQ(kRatesOk, Check(WithLength("Content-Length: " + n, kPage)));
    EXPECT_EQ(kRatesIncomplete, Check(WithLength("Content-Length: " + n, kPage.substr(0, 20))));
    EXPECT_EQ(kRatesIncomplete, Check(WithLength("Content-Length: " + n, kPage + "X\tY\n")));
    EXPECT_EQ(kRatesIncomplete, Check(WithLength("Content-Length: " + n, "")));
    // The name in any letter case, blanks around the number, leading zeros.
    EXPECT_EQ(kRatesOk, Check(WithLength("CONTENT-length:\t 00" + n + " ", kPage)));
    EXPECT_EQ(kRatesIncomplete, Check(WithLength("content-LENGTH:" + n, kPage.substr(1))));
    // A number far beyond any page never matches, and never overflows into one that does.
    EXPECT_EQ(kRatesIncomplete, Check(WithLength("Content-Length: 18446744073709551653", kPage)));
    EXPECT_EQ(kRatesOk, Check(WithLength("Content-Length: 0", "")));
}

TEST(CutReplies, OnlyAWellFormedContentLengthHeaderCounts) {
    // Values that do not read as a length are left alone, as before.
    for (const char* line : {"Content-Length: ", "Content-Length: 12abc", "Content-Length: -5",
                             "Content-Length: 1 2", "X-Content-Length: 3", "Content-Length 3"})
        EXPECT_EQ(kRatesOk, Check(WithLength(line, kPage))) << line;
    EXPECT_EQ(-1, RatesContentLength("", 0));
    // The first header that reads is the one that counts.
    std::string two = WithLength("Content-Length: x\r\nContent-Length: 3", "abc");
    EXPECT_EQ(3, RatesContentLength(two.data(), RatesHeaderBytes(two.data(), two.size())));
    EXPECT_EQ(kRatesOk, Check(two));
    // A line of the page that looks like a header is part of the page.
    EXPECT_EQ(kRatesOk, Check("HTTP/1.0 200 OK\r\n\r\nContent-Length: 99\n"));
}
