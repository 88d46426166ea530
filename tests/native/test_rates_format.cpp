#include <gtest/gtest.h>

#include <string>

#include "agent/update/rates_format.h"

namespace {

// A literal with its inner zero bytes.
template <size_t N> std::string Bytes(const char (&text)[N]) {
    return std::string(text, N - 1);
}

const std::string kHead = "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n";

// The file image as bytes, or "" when the response is refused.
std::string Build(const std::string& response, int32_t time = 0x01020304,
                  RatesResult* result = nullptr) {
    RatesImage image;
    RatesResult r = BuildRatesFile(response.data(), response.size(), time, &image);
    if (result) *result = r;
    if (r != kRatesOk) {
        EXPECT_EQ(nullptr, image.bytes);
        return "";
    }
    std::string bytes(reinterpret_cast<char*>(image.bytes), image.size);
    FreeRatesImage(&image);
    return bytes;
}

std::string Header(int32_t time = 0x01020304) {
    std::string h = Bytes("kelpo\0\0\0");
    for (int i = 0; i < 4; ++i)
        h += static_cast<char>((static_cast<uint32_t>(time) >> 8 * i) & 255);
    return h;
}

std::string Lines(const std::string& fileBytes) {
    return fileBytes.substr(kRatesHeaderSize);
}

} // namespace

TEST(RatesFile, ThreeFieldsBecomeJoinedPairAndZeroTerminatedField) {
    std::string file = Build(kHead + "AAA\tBB\tC\n");
    EXPECT_EQ(Header() + Bytes("0001\0AAA BB\0C\0"), file);
    EXPECT_EQ(12u + 5u + 9u, file.size());
}

TEST(RatesFile, LineEndingsAndTabsFollowTheLineRule) {
    // CR LF: the carriage return stays at the end of the last field.
    EXPECT_EQ(Bytes("0002\0A B\r\0C D\r\0"), Lines(Build(kHead + "A\tB\r\nC\tD\r\n")));
    // No line feed at all: nothing counted, bytes written all the same, last field unterminated.
    EXPECT_EQ(Bytes("0000\0A B\0C"), Lines(Build(kHead + "A\tB\tC")));
    // A line starting with a tab gets a space first; the next line starts its column afresh.
    EXPECT_EQ(Bytes("0002\0 A\0B\0X Y\0"), Lines(Build(kHead + "\tA\tB\nX\tY\n")));
    // Empty lines count.
    EXPECT_EQ(Bytes("0002\0\0\0"), Lines(Build(kHead + "\n\n")));
}

TEST(RatesFile, HeadersAreCutAtTheFirstBlankLineOnly) {
    RatesImage image;
    std::string response = kHead + "A\r\n\r\nB\n";
    ASSERT_EQ(kRatesOk, BuildRatesFile(response.data(), response.size(), 0, &image));
    EXPECT_EQ(kHead.size(), image.headerBytes);
    EXPECT_EQ(Bytes("0003\0A\r\0\r\0B\0"),
              std::string(reinterpret_cast<char*>(image.bytes) + 12, image.size - 12));
    FreeRatesImage(&image);

    // Without a blank line the headers never ended: no page, rather than the status line and
    // headers as rates.
    RatesResult result;
    EXPECT_EQ("", Build("HTTP/1.0 200 OK\nX\tY\n", 0, &result));
    EXPECT_EQ(kRatesNoHeaderEnd, result);
}

TEST(RatesFile, EmptyBodyAndEmptyResponse) {
    EXPECT_EQ(Header() + Bytes("0000\0"), Build(kHead));
    RatesResult result;
    EXPECT_EQ("", Build("", 0, &result));
    EXPECT_EQ(kRatesEmptyResponse, result);
    RatesImage image;
    EXPECT_EQ(kRatesEmptyResponse, BuildRatesFile(nullptr, 0, 0, &image));
}

TEST(RatesFile, TimeIsLittleEndianAndKeepsItsSign) {
    EXPECT_EQ(Header(-2), Build(kHead, -2).substr(0, 12));
    std::string file = Build(kHead, 1700000000);
    EXPECT_EQ('\x00', file[8]);
    EXPECT_EQ('\xF1', file[9]);
    EXPECT_EQ('\x53', file[10]);
    EXPECT_EQ('\x65', file[11]);
}

TEST(RatesFile, RefusesPagesTheHandheldCannotTake) {
    RatesResult result;
    // The rates body (count field and lines) may fill the 16-bit record exactly.
    std::string fits(kRatesBodyLimit - kRatesCountSize, 'x');
    EXPECT_EQ(static_cast<size_t>(12 + kRatesBodyLimit), Build(kHead + fits, 0, &result).size());
    EXPECT_EQ("", Build(kHead + fits + "x", 0, &result));
    EXPECT_EQ(kRatesBodyTooLong, result);

    std::string lines9999(9999, '\n');
    EXPECT_EQ("9999", Build(kHead + lines9999).substr(12, 4));
    EXPECT_EQ("", Build(kHead + lines9999 + "\n", 0, &result));
    EXPECT_EQ(kRatesTooManyLines, result);

    unsigned lines = 7;
    EXPECT_EQ(kRatesTooManyLines,
              CheckRatesResponse((kHead + lines9999 + "\n").c_str(), kHead.size() + 10000, &lines));
    EXPECT_EQ(10000u, lines);
}

TEST(RatesFileCheck, BuiltFilesReadBack) {
    std::string file = Build(kHead + "AAA\tBB\tC\nD\tE\tF\n", 1234);
    RatesFileView view;
    ASSERT_EQ(nullptr,
              CheckRatesFile(reinterpret_cast<const uint8_t*>(file.data()), file.size(), &view));
    EXPECT_TRUE(view.magicOk);
    EXPECT_EQ(1234, view.time);
    EXPECT_EQ(2u, view.count);
    EXPECT_EQ(Bytes("AAA BB\0C\0D E\0F\0"),
              std::string(reinterpret_cast<const char*>(view.lines), view.linesSize));
}

TEST(RatesFileCheck, DamagedFilesSayWhatIsWrong) {
    RatesFileView view;
    auto check = [&](const std::string& bytes) {
        return CheckRatesFile(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), &view);
    };
    std::string good = Build(kHead + "A\tB\n");
    ASSERT_EQ(nullptr, check(good));

    EXPECT_NE(nullptr, check(good.substr(0, 11)));
    EXPECT_NE(nullptr, check(""));
    std::string capitals = good;
    capitals.replace(0, 5, "KELPO");
    EXPECT_EQ(nullptr, check(capitals)) << "the conduit compares without regard to case";
    std::string sixth = good;
    sixth[5] = 'x';
    EXPECT_NE(nullptr, check(sixth));
    EXPECT_FALSE(view.magicOk);
    EXPECT_NE(nullptr, check(good.substr(0, 12))) << "no count field";
    std::string letters = good;
    letters[13] = 'a';
    EXPECT_NE(nullptr, check(letters));
    std::string unterminated = good;
    unterminated[16] = '1';
    EXPECT_NE(nullptr, check(unterminated));
    std::string overcounted = good;
    overcounted[15] = '2';
    EXPECT_NE(nullptr, check(overcounted)) << "two lines counted, one line end";
    std::string huge = good + std::string(kRatesBodyLimit, '\0');
    EXPECT_NE(nullptr, check(huge));
}
