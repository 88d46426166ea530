#include "zlvtool/fetch_reply.h"

#include <stdio.h>
#include <string.h>

#include "agent/update/update_request.h"

namespace {

enum { kReadSize = 4096 };

FetchExit ConnectExit(LinkEnd end) {
    switch (end) {
    case kLinkRefused:
        return kFetchRefused;
    case kLinkTimedOut:
        return kFetchTimedOut;
    default:
        return kFetchUnreachable;
    }
}

} // namespace

static_assert(kUpdateConnectSeconds == 10 && kUpdateStallSeconds == 2, "the meanings say so");
const FetchExitMeaning kFetchExitMeanings[] = {
    {kFetchOk, "the database (and the rates file) written"},
    {kFetchCannotWrite, "a file could not be written; the old ones are as they were"},
    {kFetchUsage, "wrong arguments"},
    {kFetchNoPage, "no page: the reply gives none, for the reason told"},
    {kFetchRefused, "refused: nothing takes connections on the port"},
    {kFetchUnreachable, "unreachable: the name does not resolve, or no way to the server"},
    {kFetchTimedOut, "timed out: no connection within 10 s, or 2 s without a byte of the reply"},
};
const size_t kFetchExitCount = sizeof kFetchExitMeanings / sizeof kFetchExitMeanings[0];

void FormatUpdateRequest(const UpdateAddress& address, ByteString* request) {
    ByteString target, host;
    FormatRequestTarget(address, false, &target);
    FormatHostField(address, &host);
    request->Format(ZLV_UPDATE_REQUEST_TEXT, target.CStr(), host.CStr());
}

FetchOutcome FetchPage(const FetchLink& link, const UpdateAddress& address, ReplyReader* reader) {
    FetchOutcome outcome = {kFetchOk, false, kLinkOk, 0};
    ByteString request;
    FormatUpdateRequest(address, &request);
    outcome.end = link.connect(link.context, address.host, address.port, kUpdateConnectSeconds,
                               &outcome.error);
    if (outcome.end != kLinkOk) {
        outcome.exit = ConnectExit(outcome.end);
        return outcome;
    }
    outcome.connected = true;
    const char* text = request.CStr() ? request.CStr() : "";
    link.send(link.context, text, strlen(text), kUpdateSendSeconds);
    char bytes[kReadSize];
    while (reader->verdict == kReplyNeedMore) {
        LinkEnd end = kLinkFailed;
        size_t n = link.read(link.context, bytes, sizeof bytes, kUpdateStallSeconds, &end);
        if (n) {
            reader->Feed(bytes, n);
        } else {
            outcome.end = end;
            reader->End(end == kLinkClosed);
        }
    }
    if (outcome.end == kLinkTimedOut)
        outcome.exit = kFetchTimedOut;
    else
        outcome.exit = reader->verdict == kReplyPage ? kFetchOk : kFetchNoPage;
    return outcome;
}

void DescribeFetch(const FetchOutcome& outcome, const ReplyReader& reader,
                   const UpdateAddress& address, char* line, size_t size) {
    const char* host = address.host;
    switch (outcome.exit) {
    case kFetchOk:
        snprintf(line, size, "%s: a page of %zu bytes, %u lines", host, reader.bodySize,
                 reader.lines);
        return;
    case kFetchNoPage:
        snprintf(line, size, "%s: no page: %s", host, RatesResultText(reader.result));
        return;
    case kFetchRefused:
        snprintf(line, size, "%s: refused: nothing takes connections on port %u", host,
                 static_cast<unsigned>(address.port));
        return;
    case kFetchTimedOut:
        if (outcome.connected)
            snprintf(line, size, "%s: timed out: the server sent nothing for %d s", host,
                     int(kUpdateStallSeconds));
        else
            snprintf(line, size, "%s: timed out: no connection within %d s", host,
                     int(kUpdateConnectSeconds));
        return;
    case kFetchUnreachable:
        if (outcome.end == kLinkNoName)
            snprintf(line, size, "%s: unreachable: the name does not resolve", host);
        else
            snprintf(line, size, "%s: unreachable: %s", host, strerror(outcome.error));
        return;
    case kFetchCannotWrite:
    case kFetchUsage:
        break; // not outcomes of a fetch
    }
    snprintf(line, size, "%s", host);
}
