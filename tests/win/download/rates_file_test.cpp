// The rates file on disk: whole or not at all, and kept apart from a conduit that holds it.
#include <gtest/gtest.h>

#include "agent/update/rates_file.h"
#include "tests/win/download/test_util.h"

using namespace std::string_literals;

namespace {

// The caller's time stamps the header: 1700000000 is 0x6553F100, little-endian.
const time_t kWritten = 1700000000;
const std::string kHeader = "kelpo\0\0\0\x00\xF1\x53\x65"s;

bool Write(const char* page, const std::string& folder) {
    return WriteRatesFile(ByteString(page), folder.c_str(), kWritten);
}

} // namespace

TEST(RatesFileWriter, NewContentReplacesALongerFileWhole) {
    TempFolder folder("rates");
    std::string path = folder.Path("mrvrates.zlv");
    ASSERT_TRUE(Write((std::string(3000, 'a') + "\tb\n").c_str(), folder.path));
    ASSERT_TRUE(Write("USD\tUS Dollar\t1.00\n", folder.path));

    EXPECT_EQ(kHeader + "0001\0USD US Dollar\0"
                        "1.00\0"s,
              FileText(path))
        << "no tail of the older, longer file";
    EXPECT_FALSE(FileExists(path + ".new"));
}

TEST(RatesFileWriter, AHeldFileIsLeftAloneAndTheWriteFails) {
    TempFolder folder("rates");
    std::string path = folder.Path("mrvrates.zlv");
    ASSERT_TRUE(Write("A\tB\n", folder.path));
    std::string before = FileText(path);

    // The conduit's way of opening the file.
    HANDLE conduit = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, conduit);
    EXPECT_FALSE(Write("C\tD\tE\n", folder.path));
    CloseHandle(conduit);
    EXPECT_EQ(before, FileText(path));
    EXPECT_FALSE(FileExists(path + ".new"));

    // Once the conduit lets go, the same write goes through.
    EXPECT_TRUE(Write("C\tD\tE\n", folder.path));
    EXPECT_EQ(kHeader + "0001\0C D\0E\0"s, FileText(path));
}

TEST(RatesFileWriter, NothingToWriteTouchesNothing) {
    TempFolder folder("rates");
    std::string path = folder.Path("mrvrates.zlv");
    EXPECT_FALSE(Write("", folder.path));
    EXPECT_FALSE(FileExists(path)) << "an empty page leaves no empty file behind";

    ASSERT_TRUE(Write("A\tB\n", folder.path));
    std::string before = FileText(path);
    EXPECT_FALSE(Write(std::string(65531, 'x').c_str(), folder.path));
    EXPECT_EQ(before, FileText(path));

    EXPECT_FALSE(Write("A\tB\n", folder.path + "\\missing"));
    EXPECT_FALSE(Write("A\tB\n", std::string(300, 'x')));
    EXPECT_FALSE(WriteRatesFile(ByteString("A\tB\n"), nullptr, kWritten));
}
