#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "agent/update/http_status.h"

namespace {

// The chunk in a buffer of exactly its size, so a read past the end trips the sanitizer.
long Status(const std::string& chunk) {
    std::vector<char> exact(chunk.begin(), chunk.end());
    return ParseHttpStatus(exact.data(), exact.size());
}

} // namespace

TEST(HttpStatus, ReadsTheNumberAfterTheFirstSpace) {
    EXPECT_EQ(200, Status("HTTP/1.0 200 OK\r\nServer: nginx\r\n"));
    EXPECT_EQ(404, Status("HTTP/1.1 404 Not Found\r\nServer:"));
    EXPECT_EQ(500, Status("HTTP/1.1 500 Internal Server Err"));
    EXPECT_EQ(200, Status("HTTP/1.0   +200x"));
    EXPECT_EQ(-200, Status("HTTP/1.0 -200"));
    EXPECT_EQ(200, Status("X 200 Y 404"));
}

TEST(HttpStatus, OddFirstChunksNeverReadAsOk) {
    EXPECT_EQ(0, Status("HTTP/1.0_200_OK_no_space_at_all!"));
    EXPECT_EQ(0, Status("HTTP/1.0 OK 200"));
    EXPECT_EQ(0, Status(""));
    EXPECT_EQ(0, Status("HTTP/1.0 "));
    EXPECT_EQ(0, Status(std::string("HTTP\0 200", 9))) << "text ends at a zero byte";
    // Only the whole number counts: 65736 is not 200 even though its low 16 bits are.
    EXPECT_NE(200, Status("HTTP/1.0 65736 OK"));
    EXPECT_NE(200, Status("HTTP/1.0 99999999999999999999999"));
    // The digits end where the chunk ends.
    EXPECT_EQ(20, ParseHttpStatus("HTTP/1.0 200", 11));
}
