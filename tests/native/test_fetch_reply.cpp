#include <errno.h>
#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <vector>

#include "tools/zlvtool/fetch_reply.h"

namespace {

// One read as the script has it: bytes, or (with none) how the read ends.
struct Step {
    std::string bytes;
    LinkEnd end;
};

// The server as a script: how the connect ends, then the reads in order. Every call is recorded
// with the seconds it was allowed to wait.
struct ScriptedServer {
    LinkEnd connectEnd = kLinkOk;
    int connectError = 0;
    std::vector<Step> reads;
    size_t next = 0;
    std::vector<std::string> calls;
    std::string sent;

    FetchLink Link() { return {this, Connect, Send, Read}; }

    static LinkEnd Connect(void* context, const char* host, int seconds, int* error) {
        ScriptedServer* s = static_cast<ScriptedServer*>(context);
        s->calls.push_back("connect " + std::string(host) + " " + std::to_string(seconds));
        *error = s->connectError;
        return s->connectEnd;
    }
    static void Send(void* context, const char* text, size_t size, int seconds) {
        ScriptedServer* s = static_cast<ScriptedServer*>(context);
        s->calls.push_back("send " + std::to_string(seconds));
        s->sent.append(text, size);
    }
    static size_t Read(void* context, char* buffer, size_t size, int seconds, LinkEnd* end) {
        ScriptedServer* s = static_cast<ScriptedServer*>(context);
        s->calls.push_back("read " + std::to_string(seconds));
        if (s->next == s->reads.size()) {
            ADD_FAILURE() << "read past the end of the script";
            *end = kLinkFailed;
            return 0;
        }
        Step& step = s->reads[s->next];
        if (step.bytes.empty()) {
            ++s->next;
            *end = step.end;
            return 0;
        }
        size_t n = std::min(size, step.bytes.size());
        memcpy(buffer, step.bytes.data(), n);
        step.bytes.erase(0, n);
        if (step.bytes.empty()) ++s->next;
        return n;
    }
};

struct Fetched {
    FetchExit exit;
    std::string line;
    std::string body;
};

Fetched Fetch(ScriptedServer& server, const char* host = "rates.example") {
    ReplyReader reader;
    FetchOutcome outcome = FetchPage(server.Link(), host, &reader);
    char line[256];
    DescribeFetch(outcome, reader, host, line, sizeof line);
    std::string body =
        reader.verdict == kReplyPage ? std::string(reader.body, reader.bodySize) : "";
    return {outcome.exit, line, body};
}

const char kPage[] = "USD\tUS Dollar\t1.0000\nEUR\tEuro\t0.9215\n";

} // namespace

TEST(Fetch, SendsTheAgentsRequestOnceAndWaitsNoLongerThanTheAgent) {
    ScriptedServer server;
    server.reads = {
        {"HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\nUSD\tUS Dollar\t1.0000\n", kLinkOk},
        {"EUR\tEuro\t0.9215\n", kLinkOk},
        {"", kLinkClosed}};
    Fetched got = Fetch(server);
    EXPECT_EQ(kFetchOk, got.exit) << got.line;
    EXPECT_EQ(kPage, got.body);
    EXPECT_EQ("GET /updatedrates.php HTTP/1.0\r\nHost: rates.example\r\nAccept: text/html \r\n"
              "Cache-Control: no-cache \r\n\r\n",
              server.sent);
    std::vector<std::string> calls = {"connect rates.example 10", "send 1", "read 2", "read 2",
                                      "read 2"};
    EXPECT_EQ(calls, server.calls);
}

TEST(Fetch, AFailedConnectionIsToldAndNotTriedAgain) {
    struct Case {
        LinkEnd end;
        int error;
        FetchExit exit;
        const char* line;
    } cases[] = {
        {kLinkRefused, ECONNREFUSED, kFetchRefused,
         "h: refused: nothing takes connections on port 80"},
        {kLinkNoName, 0, kFetchUnreachable, "h: unreachable: the name does not resolve"},
        {kLinkUnreachable, ENETUNREACH, kFetchUnreachable,
         "h: unreachable: Network is unreachable"},
        {kLinkTimedOut, 0, kFetchTimedOut, "h: timed out: no connection within 10 s"},
    };
    for (const Case& c : cases) {
        ScriptedServer server;
        server.connectEnd = c.end;
        server.connectError = c.error;
        Fetched got = Fetch(server, "h");
        EXPECT_EQ(c.exit, got.exit) << c.line;
        EXPECT_EQ(c.line, got.line);
        EXPECT_EQ(std::vector<std::string>{"connect h 10"}, server.calls) << c.line;
    }
}

// Each way a reply can end, with the reads it takes: none after the reply reader has judged.
TEST(Fetch, EachEndOfTheReplyHasItsExitCodeAndItsReason) {
    const std::string ok = "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n";
    struct Case {
        const char* what;
        std::vector<Step> reads;
        FetchExit exit;
        const char* line;
        size_t readsMade;
    } cases[] = {
        {"status 404",
         {{"HTTP/1.0 404 Not Found\r\n\r\nUSD\tUS Dollar\t1.0000\n", kLinkOk}, {"", kLinkClosed}},
         kFetchNoPage,
         "rates.example: no page: the status is not 200",
         1},
        {"closed before its Content-Length",
         {{ok + "Content-Length: 40\r\n\r\nUSD\tUS Dollar\t1.0000\n", kLinkOk}, {"", kLinkClosed}},
         kFetchNoPage,
         "rates.example: no page: the page ends before its announced end",
         2},
        {"empty body",
         {{ok + "Content-Length: 0\r\n\r\n", kLinkOk}, {"", kLinkTimedOut}},
         kFetchNoPage,
         "rates.example: no page: the page has no complete line",
         1},
        {"reset in the body",
         {{ok + "\r\nUSD\tUS Dollar\t1.0000\n", kLinkOk}, {"", kLinkFailed}},
         kFetchNoPage,
         "rates.example: no page: the reading broke off before the end",
         2},
        {"silent server",
         {{"", kLinkTimedOut}},
         kFetchTimedOut,
         "rates.example: timed out: the server sent nothing for 2 s",
         1},
        {"stall in the body",
         {{ok + "\r\nUSD\tUS Dollar\t1.0000\n", kLinkOk}, {"", kLinkTimedOut}},
         kFetchTimedOut,
         "rates.example: timed out: the server sent nothing for 2 s",
         2},
        {"whole by its Content-Length, connection kept open",
         {{ok + "Content-Length: 37\r\n\r\n" + kPage, kLinkOk}, {"", kLinkTimedOut}},
         kFetchOk,
         "rates.example: a page of 37 bytes, 2 lines",
         1},
        {"chunked",
         {{"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n15\r\nUSD\tUS Dollar\t1.0000\n"
           "\r\n10;x=1\r\nEUR\tEuro\t0.9215\n\r\n0\r\n\r\n",
           kLinkOk},
          {"", kLinkTimedOut}},
         kFetchOk,
         "rates.example: a page of 37 bytes, 2 lines",
         1},
    };
    for (Case& c : cases) {
        ScriptedServer server;
        server.reads = c.reads;
        Fetched got = Fetch(server);
        EXPECT_EQ(c.exit, got.exit) << c.what;
        EXPECT_EQ(c.line, got.line) << c.what;
        EXPECT_EQ(c.exit == kFetchOk ? kPage : "", got.body) << c.what;
        EXPECT_EQ(2 + c.readsMade, server.calls.size()) << c.what;
    }
}
