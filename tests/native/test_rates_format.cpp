#include <gtest/gtest.h>

#include <string>

#include "agent/update/rates_format.h"

namespace {

// A literal with its inner zero bytes.
template <size_t N> std::string Bytes(const char (&text)[N]) {
    return std::string(text, N - 1);
}

// The file image for a page body, or "" when it is refused.
std::string Build(const std::string& body, int32_t time = 0x01020304,
                  RatesResult* result = nullptr) {
    RatesImage image;
    RatesResult r = BuildRatesImage(body.data(), body.size(), time, &image);
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

// What follows the 12-byte header.
std::string Lines(const std::string& fileBytes) {
    return fileBytes.substr(12);
}

} // namespace

TEST(RatesFile, ThreeFieldsBecomeJoinedPairAndZeroTerminatedField) {
    std::string file = Build("AAA\tBB\tC\n");
    EXPECT_EQ(Header() + Bytes("0001\0AAA BB\0C\0"), file);
    EXPECT_EQ(12u + 5u + 9u, file.size());
}

TEST(RatesFile, LineEndingsAndTabsFollowTheLineRule) {
    // CR LF: the carriage return stays at the end of the last field.
    EXPECT_EQ(Bytes("0002\0A B\r\0C D\r\0"), Lines(Build("A\tB\r\nC\tD\r\n")));
    // An open last line is written but not counted; its last field has no terminator.
    EXPECT_EQ(Bytes("0001\0A B\0C D\0E"), Lines(Build("A\tB\nC\tD\tE")));
    // A line starting with a tab gets a space first; the next line starts its column afresh.
    EXPECT_EQ(Bytes("0002\0 A\0B\0X Y\0"), Lines(Build("\tA\tB\nX\tY\n")));
    // Empty lines count.
    EXPECT_EQ(Bytes("0002\0\0\0"), Lines(Build("\n\n")));
}

TEST(RatesFile, AReplyIsCutAtItsFirstBlankLineOnly) {
    RatesImage image;
    std::string reply = "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\nA\r\n\r\nB\n";
    ASSERT_EQ(kRatesOk, BuildRatesFile(reply.data(), reply.size(), 7, &image));
    EXPECT_EQ(Bytes("kelpo\0\0\0\x07\0\0\0"
                    "0003\0A\r\0\r\0B\0"),
              std::string(reinterpret_cast<char*>(image.bytes), image.size));
    FreeRatesImage(&image);
    EXPECT_EQ(kRatesNoHeaderEnd, BuildRatesFile("HTTP/1.0 200 OK\nX\tY\n", 19, 0, &image));
    EXPECT_EQ(nullptr, image.bytes);
}

TEST(RatesFile, TimeIsLittleEndianAndKeepsItsSign) {
    EXPECT_EQ(Header(-2), Build("A\n", -2).substr(0, 12));
    std::string file = Build("A\n", 1700000000);
    EXPECT_EQ('\x00', file[8]);
    EXPECT_EQ('\xF1', file[9]);
    EXPECT_EQ('\x53', file[10]);
    EXPECT_EQ('\x65', file[11]);
}

TEST(RatesFile, RefusesWhatTheFileCannotHold) {
    RatesResult result;
    // The rates body (count field and lines) may fill the 16-bit record exactly.
    std::string fits(65530, 'x');
    EXPECT_EQ(12u + 65535u, Build(fits, 0, &result).size());
    EXPECT_EQ("", Build(fits + "x", 0, &result));
    EXPECT_EQ(kRatesBodyTooLong, result);

    std::string lines9999(9999, '\n');
    EXPECT_EQ("9999", Build(lines9999).substr(12, 4));
    EXPECT_EQ("", Build(lines9999 + "\n", 0, &result));
    EXPECT_EQ(kRatesTooManyLines, result);
}

TEST(RatesFileCheck, BuiltFilesReadBack) {
    std::string file = Build("AAA\tBB\tC\nD\tE\tF\n", 1234);
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
    std::string good = Build("A\tB\n");
    ASSERT_EQ(nullptr, check(good));

    // What zlvtool dump tells the user of each damage.
    EXPECT_STREQ("shorter than the 12-byte header", check(good.substr(0, 11)));
    EXPECT_STREQ("shorter than the 12-byte header", check(""));
    std::string capitals = good;
    capitals.replace(0, 5, "KELPO");
    EXPECT_EQ(nullptr, check(capitals)) << "the conduit compares without regard to case";
    auto with = [&](size_t at, char byte) {
        std::string damaged = good;
        damaged[at] = byte;
        return damaged;
    };
    EXPECT_STREQ("bad magic: not \"kelpo\" and a zero byte", check(with(5, 'x')));
    EXPECT_FALSE(view.magicOk);
    EXPECT_STREQ("no line count after the header", check(good.substr(0, 12)));
    EXPECT_STREQ("line count is not four digits", check(with(13, 'a')));
    EXPECT_STREQ("line count is not followed by a zero byte", check(with(16, '1')));
    EXPECT_STREQ("fewer line ends than the line count says", check(with(15, '2')));
    EXPECT_STREQ("longer than a handheld record can hold", check(good + std::string(65535, '\0')));
}
