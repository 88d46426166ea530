// The rates file on disk: whole or not at all, and kept apart from a conduit that holds it.
#include <gtest/gtest.h>

#include "agent/shell/agent_state.h"
#include "agent/update/rates_file.h"
#include "agent/update/rates_format.h"
#include "tests/win/download/test_util.h"

namespace {

const char kHead[] = "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n";

std::string Expected(const std::string& response, int32_t time) {
    RatesImage image;
    if (BuildRatesFile(response.data(), response.size(), time, &image) != kRatesOk) return "";
    std::string bytes(reinterpret_cast<char*>(image.bytes), image.size);
    FreeRatesImage(&image);
    return bytes;
}

time_t FixedClock(time_t* out) {
    if (out) *out = 1700000000;
    return 1700000000;
}

// The file as written, with its time field taken from the file itself.
std::string WithFileTime(const std::string& file, const std::string& response) {
    if (file.size() < 12) return "";
    int32_t time;
    memcpy(&time, file.data() + 8, 4);
    return Expected(response, time);
}

} // namespace

TEST(RatesFileWriter, NewContentReplacesALongerFileWhole) {
    TempFolder folder;
    std::string path = folder.File("mrvrates.zlv");
    ByteString longer((std::string(kHead) + std::string(3000, 'a') + "\tb\n").c_str());
    ASSERT_TRUE(WriteRatesFile(longer, folder.path.c_str()));
    ByteString shorter((std::string(kHead) + "USD\tUS Dollar\t1.00\n").c_str());
    ASSERT_TRUE(WriteRatesFile(shorter, folder.path.c_str()));

    std::string file = ReadWholeFile(path);
    EXPECT_EQ(12u + 5u + 19u, file.size()) << "no tail of the older, longer file";
    EXPECT_EQ(WithFileTime(file, shorter.CStr()), file);
    EXPECT_FALSE(FileExists(path + ".new"));
}

TEST(RatesFileWriter, AHeldFileIsLeftAloneAndTheWriteFails) {
    TempFolder folder;
    std::string path = folder.File("mrvrates.zlv");
    ByteString first((std::string(kHead) + "A\tB\n").c_str());
    ASSERT_TRUE(WriteRatesFile(first, folder.path.c_str()));
    std::string before = ReadWholeFile(path);

    // The conduit's way of opening the file.
    HANDLE conduit = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, conduit);
    ByteString second((std::string(kHead) + "C\tD\tE\n").c_str());
    EXPECT_FALSE(WriteRatesFile(second, folder.path.c_str()));
    CloseHandle(conduit);
    EXPECT_EQ(before, ReadWholeFile(path));
    EXPECT_FALSE(FileExists(path + ".new"));

    // Once the conduit lets go, the same write goes through.
    EXPECT_TRUE(WriteRatesFile(second, folder.path.c_str()));
    EXPECT_EQ(WithFileTime(ReadWholeFile(path), second.CStr()), ReadWholeFile(path));
}

TEST(RatesFileWriter, RefusedResponsesTouchNothing) {
    TempFolder folder;
    std::string path = folder.File("mrvrates.zlv");
    ByteString empty;
    EXPECT_FALSE(WriteRatesFile(empty, folder.path.c_str()));
    EXPECT_FALSE(FileExists(path)) << "an empty response leaves no empty file behind";

    ByteString good((std::string(kHead) + "A\tB\n").c_str());
    ASSERT_TRUE(WriteRatesFile(good, folder.path.c_str()));
    std::string before = ReadWholeFile(path);
    ByteString tooLong((std::string(kHead) + std::string(kRatesBodyLimit, 'x')).c_str());
    EXPECT_FALSE(WriteRatesFile(tooLong, folder.path.c_str()));
    ByteString tooManyLines((std::string(kHead) + std::string(10000, '\n')).c_str());
    EXPECT_FALSE(WriteRatesFile(tooManyLines, folder.path.c_str()));
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
    ByteString response((std::string(kHead) + "AAA\tBB\tC\n").c_str());
    EXPECT_TRUE(WriteRatesFile(response));
    EXPECT_EQ(Expected(response.CStr(), 1700000000), ReadWholeFile(folder.File("mrvrates.zlv")));
    g_agent.agentFolder = nullptr;
    EXPECT_FALSE(WriteRatesFile(response));
    g_agent.agentFolder = savedFolder;
    g_agent.clock = savedClock;
}
