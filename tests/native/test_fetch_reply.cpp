#include <errno.h>
#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <vector>

#include "zlvtool/fetch_reply.h"

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

    static LinkEnd Connect(void* context, const char* host, unsigned short port, int seconds,
                           int* error) {
        ScriptedServer* s = static_cast<ScriptedServer*>(context);
        s->calls.push_back("connect " + std::string(host) + ":" + std::to_string(port) + " " +
                           std::to_string(seconds));
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

Fetched Fetch(ScriptedServer& server, const char* url = "http://rates.example/updatedrates.php") {
    UpdateAddress address;
    EXPECT_TRUE(ParseUpdateAddress(url, &address)) << url;
    ReplyReader reader;
    FetchOutcome outcome = FetchPage(server.Link(), address, &reader);
    char line[256];
    DescribeFetch(outcome, reader, address, line, sizeof line);
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
    std::vector<std::string> calls = {"connect rates.example:80 10", "send 1", "read 2", "read 2",
                                      "read 2"};
    EXPECT_EQ(calls, server.calls);
}

// What the peers on loopback cannot show, with the reads each case takes: nothing is tried twice,
// and nothing is read once the reply reader has judged.
TEST(Fetch, EachEndingHasItsExitCodeAndItsLine) {
    const std::string ok = "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n";
    struct Case {
        const char* what;
        LinkEnd connect;
        int error;
        std::vector<Step> reads;
        FetchExit exit;
        const char* line;
    } cases[] = {
        {"no route",
         kLinkUnreachable,
         ENETUNREACH,
         {},
         kFetchUnreachable,
         "rates.example: unreachable: Network is unreachable"},
        {"no connection in time",
         kLinkTimedOut,
         0,
         {},
         kFetchTimedOut,
         "rates.example: timed out: no connection within 10 s"},
        {"silent server",
         kLinkOk,
         0,
         {{"", kLinkTimedOut}},
         kFetchTimedOut,
         "rates.example: timed out: the server sent nothing for 2 s"},
        {"reset in the body",
         kLinkOk,
         0,
         {{ok + "\r\nUSD\tUS Dollar\t1.0000\n", kLinkOk}, {"", kLinkFailed}},
         kFetchNoPage,
         "rates.example: no page: the reading broke off before the end"},
        {"whole by its Content-Length, the connection kept open",
         kLinkOk,
         0,
         {{ok + "Content-Length: 37\r\n\r\n" + kPage, kLinkOk}},
         kFetchOk,
         "rates.example: a page of 37 bytes, 2 lines"},
    };
    for (Case& c : cases) {
        ScriptedServer server;
        server.connectEnd = c.connect;
        server.connectError = c.error;
        server.reads = c.reads;
        Fetched got = Fetch(server);
        EXPECT_EQ(c.exit, got.exit) << c.what;
        EXPECT_EQ(c.line, got.line) << c.what;
        EXPECT_EQ(c.exit == kFetchOk ? kPage : "", got.body) << c.what;
        size_t calls = c.connect == kLinkOk ? 2 + c.reads.size() : 1;
        EXPECT_EQ(calls, server.calls.size()) << c.what;
        EXPECT_EQ(c.reads.size(), server.next) << c.what;
    }
}
