// One fetch of the rates page as the agent makes it over http: one connection, the agent's
// request, the reply read until the agent's reply reader has judged it. The connection comes as
// three calls, so that what comes of each ending (exit code, the line that says why) is decided
// here, without a network.
#pragma once
#include <stddef.h>

#include "agent/update/byte_string.h"
#include "agent/update/http_reply.h"
#include "agent/update/update_address.h"

// How a connect or a read ended.
enum LinkEnd {
    kLinkOk,
    kLinkNoName,      // the host name does not resolve
    kLinkRefused,     // nothing takes connections on the port
    kLinkUnreachable, // no route, or another failed connect; the error says which
    kLinkTimedOut,    // nothing within the seconds asked
    kLinkClosed,      // the peer closed
    kLinkFailed,      // a read failed, a reset among others
};

struct FetchLink {
    void* context;
    // The port of the host within the seconds; *error is errno when it fails.
    LinkEnd (*connect)(void* context, const char* host, unsigned short port, int seconds,
                       int* error);
    // The whole text, each wait up to the seconds. As in the agent, how it went is not asked:
    // the reply, or its absence, tells.
    void (*send)(void* context, const char* text, size_t size, int seconds);
    // What has come, after a wait of up to the seconds: the count, or 0 and how the read ended.
    size_t (*read)(void* context, char* buffer, size_t size, int seconds, LinkEnd* end);
};

// One exit code per kind of failure, for cron and scripts.
enum FetchExit {
    kFetchOk = 0,
    kFetchCannotWrite = 1,
    kFetchUsage = 2,
    kFetchNoPage = 3,
    kFetchRefused = 4,
    kFetchUnreachable = 5,
    kFetchTimedOut = 6,
};

struct FetchExitMeaning {
    FetchExit code;
    const char* meaning;
};
extern const FetchExitMeaning kFetchExitMeanings[];
extern const size_t kFetchExitCount;

struct FetchOutcome {
    FetchExit exit;
    bool connected;
    LinkEnd end; // of the connect, or of the read that ended the reply
    int error;   // errno of a failed connect
};

// The agent's request for its update server, asked directly.
void FormatUpdateRequest(const UpdateAddress& address, ByteString* request);

// Connects, sends the request and reads until the reader has judged the reply; the page, when
// there is one, stays in the reader. Nothing is tried twice.
FetchOutcome FetchPage(const FetchLink& link, const UpdateAddress& address, ReplyReader* reader);

// One line, without the tool's name, that says what came of the fetch.
void DescribeFetch(const FetchOutcome& outcome, const ReplyReader& reader,
                   const UpdateAddress& address, char* line, size_t size);
