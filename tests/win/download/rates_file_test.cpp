// The rates file on disk: whole or not at all, kept apart from a conduit that holds it, and never
// written through a name someone else left.
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

int FilesIn(const std::string& folder) {
    int count = 0;
    WIN32_FIND_DATAW found;
    HANDLE h = FindFirstFileW(Wide(folder + "\\*").c_str(), &found);
    if (h == INVALID_HANDLE_VALUE) return 0;
    do
        count += !(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    while (FindNextFileW(h, &found));
    FindClose(h);
    return count;
}

} // namespace

// In a folder named outside the ANSI code page too, as a user's profile may be; its length is
// counted in the system's characters, not in the three bytes each of these letters takes.
TEST(RatesFileWriter, NewContentReplacesALongerFileWhole) {
    TempFolder root("rates");
    std::string folder = root.Path("\xE7\x94\xA8\xE6\x88\xB7"); // "用户"
    for (int i = 0; i < 90; ++i)
        folder += "\xE7\x94\xA8";
    ASSERT_TRUE(CreateDirectoryW(Wide(folder).c_str(), nullptr)) << GetLastError();
    std::string path = folder + "\\mrvrates.zlv";
    ASSERT_TRUE(Write((std::string(3000, 'a') + "\tb\n").c_str(), folder));
    ASSERT_TRUE(Write("USD\tUS Dollar\t1.00\n", folder));

    EXPECT_EQ(kHeader + "0001\0USD US Dollar\0"
                        "1.00\0"s,
              FileText(path))
        << "no tail of the older, longer file";
    EXPECT_FALSE(FileExists(path + ".new"));
    EXPECT_EQ(1, FilesIn(folder));
}

TEST(RatesFileWriter, AHeldFileIsLeftAloneAndTheWriteFails) {
    TempFolder folder("rates");
    std::string path = folder.Path("mrvrates.zlv");
    ASSERT_TRUE(Write("A\tB\n", folder.path));
    std::string before = FileText(path);

    // The conduit's way of opening the file: to copy it, then delete it.
    HANDLE conduit = CreateFileA(path.c_str(), GENERIC_READ | DELETE, FILE_SHARE_READ, nullptr,
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

// Whatever waits under the temp file's name, a file or a hard link to some other file, is never
// opened: its bytes and its link stay, the next name is taken, and the rates file lands.
TEST(RatesFileWriter, WhatWaitsUnderTheTempNameIsLeftAsItWas) {
    TempFolder folder("rates");
    const std::string path = folder.Path("mrvrates.zlv");
    const std::string letter = folder.Path("letter.txt");
    const Bytes kLetter = {'D', 'e', 'a', 'r', ' ', 'K', 'i', 'm'};
    const Bytes kLeft = {'l', 'e', 'f', 't'};
    ASSERT_TRUE(WriteBytes(letter, kLetter));
    ASSERT_TRUE(CreateHardLinkA((path + ".new").c_str(), letter.c_str(), nullptr));
    ASSERT_TRUE(WriteBytes(path + ".new1", kLeft));

    ASSERT_TRUE(Write("A\tB\n", folder.path));
    EXPECT_EQ(kHeader + "0001\0A B\0"s, FileText(path));
    EXPECT_EQ(std::string(kLetter.begin(), kLetter.end()), FileText(letter));
    EXPECT_EQ(std::string(kLetter.begin(), kLetter.end()), FileText(path + ".new"));
    HANDLE link = CreateFileA((path + ".new").c_str(), 0, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, link);
    BY_HANDLE_FILE_INFORMATION info;
    ASSERT_TRUE(GetFileInformationByHandle(link, &info));
    CloseHandle(link);
    EXPECT_EQ(2u, info.nNumberOfLinks) << "the link no longer names the letter";
    EXPECT_EQ(std::string(kLeft.begin(), kLeft.end()), FileText(path + ".new1"));
    EXPECT_FALSE(FileExists(path + ".new2")) << "the temp file was left behind";

    // Every name taken, as far as a small bound goes: no write, nothing touched, nothing new.
    const int kNames = 99;
    for (int i = 2; i <= kNames; ++i)
        ASSERT_TRUE(WriteBytes(path + ".new" + std::to_string(i), kLeft));
    EXPECT_FALSE(Write("C\tD\n", folder.path));
    EXPECT_EQ(kHeader + "0001\0A B\0"s, FileText(path));
    EXPECT_EQ(std::string(kLetter.begin(), kLetter.end()), FileText(letter));
    for (int i = 1; i <= kNames; ++i)
        EXPECT_EQ(std::string(kLeft.begin(), kLeft.end()),
                  FileText(path + ".new" + std::to_string(i)));
    EXPECT_EQ(kNames + 3, FilesIn(folder.path)) << "the rates file, the letter and the temp names";
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
