// The rates file on disk: whole or not at all, and kept apart from a conduit that holds it.
#include <gtest/gtest.h>

#include "agent/shell/agent_state.h"
#include "agent/update/rates_file.h"
#include "tests/win/download/test_util.h"

namespace {

// A literal with its inner zero bytes.
template <size_t N> std::string Bytes(const char (&text)[N]) {
    return std::string(text, N - 1);
}

time_t FixedClock(time_t* out) {
    if (out) *out = 1700000000;
    return 1700000000;
}

// The file past its time field: the magic, and from the count on.
std::string WithoutTime(const std::string& file) {
    return file.size() < 12 ? file : file.substr(0, 8) + file.substr(12);
}

} // namespace

TEST(RatesFileWriter, NewContentReplacesALongerFileWhole) {
    TempFolder folder;
    std::string path = folder.File("mrvrates.zlv");
    ByteString longer((std::string(3000, 'a') + "\tb\n").c_str());
    ASSERT_TRUE(WriteRatesFile(longer, folder.path.c_str()));
    ByteString shorter("USD\tUS Dollar\t1.00\n");
    ASSERT_TRUE(WriteRatesFile(shorter, folder.path.c_str()));

    EXPECT_EQ(Bytes("kelpo\0\0\0"
                    "0001\0USD US Dollar\0"
                    "1.00\0"),
              WithoutTime(ReadWholeFile(path)))
        << "no tail of the older, longer file";
    EXPECT_FALSE(FileExists(path + ".new"));
}

TEST(RatesFileWriter, AHeldFileIsLeftAloneAndTheWriteFails) {
    TempFolder folder;
    std::string path = folder.File("mrvrates.zlv");
    ASSERT_TRUE(WriteRatesFile(ByteString("A\tB\n"), folder.path.c_str()));
    std::string before = ReadWholeFile(path);

    // The conduit's way of opening the file.
    HANDLE conduit = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, conduit);
    ByteString second("C\tD\tE\n");
    EXPECT_FALSE(WriteRatesFile(second, folder.path.c_str()));
    CloseHandle(conduit);
    EXPECT_EQ(before, ReadWholeFile(path));
    EXPECT_FALSE(FileExists(path + ".new"));

    // Once the conduit lets go, the same write goes through.
    EXPECT_TRUE(WriteRatesFile(second, folder.path.c_str()));
    EXPECT_EQ(Bytes("kelpo\0\0\0"
                    "0001\0C D\0E\0"),
              WithoutTime(ReadWholeFile(path)));
}

TEST(RatesFileWriter, NothingToWriteTouchesNothing) {
    TempFolder folder;
    std::string path = folder.File("mrvrates.zlv");
    EXPECT_FALSE(WriteRatesFile(ByteString(), folder.path.c_str()));
    EXPECT_FALSE(FileExists(path)) << "an empty page leaves no empty file behind";

    ByteString good("A\tB\n");
    ASSERT_TRUE(WriteRatesFile(good, folder.path.c_str()));
    std::string before = ReadWholeFile(path);
    EXPECT_FALSE(WriteRatesFile(ByteString(std::string(65531, 'x').c_str()), folder.path.c_str()));
    EXPECT_EQ(before, ReadWholeFile(path));

    EXPECT_FALSE(WriteRatesFile(good, (folder.path + "\\missing").c_str()));
    EXPECT_FALSE(WriteRatesFile(good, (std::string(300, 'x')).c_str()));
    EXPECT_FALSE(WriteRatesFile(good, nullptr));
}

TEST(RatesFileWriter, AgentFolderAndClockComeFromTheAgentState) {
    TempFolder folder;
    char* savedFolder = g_agent.agentFolder;
    ClockFn savedClock = g_agent.clock;
    g_agent.agentFolder = const_cast<char*>(folder.path.c_str());
    g_agent.clock = FixedClock;
    ByteString page("AAA\tBB\tC\n");
    EXPECT_TRUE(WriteRatesFile(page));
    // 1700000000 is 0x6553F100.
    EXPECT_EQ(Bytes("kelpo\0\0\0\x00\xF1\x53\x65"
                    "0001\0AAA BB\0C\0"),
              ReadWholeFile(folder.File("mrvrates.zlv")));
    g_agent.agentFolder = nullptr;
    EXPECT_FALSE(WriteRatesFile(page));
    g_agent.agentFolder = savedFolder;
    g_agent.clock = savedClock;
}
