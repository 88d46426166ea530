// Downloads from real peers: nginx serving the rates page, and a fault server of our own that
// misbehaves on request. Built apart from the other download cases: only
// tests/scripts/test_download.py runs it, with its peers up; a peer it is not given fails the case.
#include <gtest/gtest.h>

#include "agent/update/http_reply.h"
#include "agent/update/rates_file.h"
#include "tests/win/download/test_util.h"

#include <psapi.h>

namespace {

const char kRequestFormat[] =
    "GET %s HTTP/1.0\r\nHost: %s\r\nAccept: text/html \r\nCache-Control: no-cache \r\n\r\n";

const char* Env(const char* name) {
    const char* value = getenv(name);
    return value && *value ? value : nullptr;
}

#define NEED_PEER(var)                                                                             \
    const char* var = Env(#var);                                                                   \
    ASSERT_NE(nullptr, var) << "tests/scripts/test_download.py sets " #var

std::string Address(const char* host, const char* path) {
    return std::string("http://") + host + "/" + path;
}

// Connects, sends the agent's request for `path` and returns when the worker has finished.
DWORD Fetch(Downloader& d, const char* host, const char* path, DWORD limitMs) {
    EXPECT_TRUE(d.Start(Address(host, path).c_str(), false));
    ByteString request;
    request.Format(kRequestFormat, d.RequestTarget(), d.HostField());
    DWORD start = GetTickCount();
    EXPECT_TRUE(d.Send(request));
    WaitUntil([&] { return d.IsFinished(); }, limitMs);
    return MsSince(start);
}

// Wine reports no private bytes, but a true working set (the process's resident memory).
SIZE_T WorkingSet() {
    PROCESS_MEMORY_COUNTERS counters;
    memset(&counters, 0, sizeof counters);
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return counters.WorkingSetSize;
}

} // namespace

TEST(DownloaderPeer, NginxPageArrivesWholeWithinASecond) {
    NEED_PEER(ZLV_NGINX_HOST);
    NEED_PEER(ZLV_NGINX_PAGE);
    NEED_PEER(ZLV_DOWNLOAD_OUT);
    std::string page = FileText(ZLV_NGINX_PAGE);
    ASSERT_GT(page.size(), 0u);

    Downloader d;
    DWORD ms = Fetch(d, ZLV_NGINX_HOST, "updatedrates.php", 5000);
    ASSERT_TRUE(d.IsFinished());
    printf("loopback page of %u bytes: %lu ms from the request to the finished flag\n",
           static_cast<unsigned>(page.size()), ms);
    RecordProperty("loopback_ms", static_cast<int>(ms));
    EXPECT_LT(ms, 1000u);

    EXPECT_EQ(page, ResponseText(d)) << "the page from its first byte to its last";
    // The script checks the file against the page it served.
    EXPECT_TRUE(WriteRatesFile(d.Response(), ZLV_DOWNLOAD_OUT, time(nullptr)));
}

TEST(DownloaderPeer, AnErrorStatusACutHeaderOrARealResetIsNoPage) {
    NEED_PEER(ZLV_FAULT_HOST);
    // "short": 10 bytes, then the server closes; "reset": headers without a length, two lines of
    // the page, then a reset, which Wine reports to recv as a close.
    for (const char* path : {"status/404", "status/500", "short", "reset"}) {
        Downloader d;
        Fetch(d, ZLV_FAULT_HOST, path, 5000);
        EXPECT_TRUE(d.IsFinished()) << path;
        EXPECT_EQ(0u, d.Response().Length()) << path;
    }
}

TEST(DownloaderPeer, AKeepAliveServerGetsItsPageAtOnce) {
    NEED_PEER(ZLV_FAULT_HOST);
    // The page with its Content-Length, then the connection is kept open for 10 s.
    Downloader d;
    DWORD ms = Fetch(d, ZLV_FAULT_HOST, "keepalive", 3000);
    ASSERT_TRUE(d.IsFinished());
    EXPECT_EQ("USD\tUS Dollar\t1.0000\nEUR\tEuro\t0.9215\n", ResponseText(d));
    printf("keep-alive page: %lu ms from the request to the finished flag\n", ms);
    RecordProperty("keepalive_ms", static_cast<int>(ms));
    EXPECT_LT(ms, 1000u) << "not ended by the 2-second read time-out";
}

TEST(DownloaderPeer, StallEndsTheAttemptWithoutAPage) {
    NEED_PEER(ZLV_FAULT_HOST);
    // The server sends 74 bytes, then nothing for 3 seconds, then more: a page cut short by the
    // read time-out is no page, or the handheld would get its first lines as the day's rates.
    Downloader d;
    DWORD ms = Fetch(d, ZLV_FAULT_HOST, "stall", 6000);
    ASSERT_TRUE(d.IsFinished());
    EXPECT_GE(ms, 1900u);
    EXPECT_LT(ms, 3000u) << "ended by the 2-second read time-out, not by the server";
    EXPECT_EQ("", ResponseText(d));
}

TEST(DownloaderPeer, EndlessBodyStopsAtTheBoundWithMemoryBounded) {
    NEED_PEER(ZLV_FAULT_HOST);
    SIZE_T before = WorkingSet(), peak = before;
    ASSERT_GT(before, 0u) << "no memory figures to measure with";
    Downloader d;
    EXPECT_TRUE(d.Start(Address(ZLV_FAULT_HOST, "flood").c_str(), false));
    ByteString request;
    request.Format(kRequestFormat, "/flood", ZLV_FAULT_HOST);
    DWORD start = GetTickCount();
    EXPECT_TRUE(d.Send(request));
    DWORD took = WaitUntil(
        [&] {
            SIZE_T now = WorkingSet();
            if (now > peak) peak = now;
            return d.IsFinished();
        },
        10000);
    ASSERT_TRUE(d.IsFinished()) << "still reading an endless body after 10 s";
    EXPECT_EQ(0u, d.Response().Length());
    SIZE_T grew = peak - before;
    printf("endless body: gave up after %lu ms, the working set grew by at most %lu KiB "
           "(bound %d bytes)\n",
           took, static_cast<unsigned long>(grew / 1024), kReplyLimit);
    RecordProperty("flood_peak_kib", static_cast<int>(grew / 1024));
    RecordProperty("flood_ms", static_cast<int>(MsSince(start)));
    EXPECT_LT(grew, 2u * 1024 * 1024);
}

TEST(DownloaderPeer, PageLongerThanAHandheldRecordIsDropped) {
    NEED_PEER(ZLV_FAULT_HOST);
    // The rates body is the 5-byte count field and the page: at most 65,535 bytes together, so
    // the largest page that fits comes whole and one byte more cannot reach the handheld.
    for (auto [path, size] :
         {std::pair<const char*, size_t>{"page/65530", 65530}, {"page/65531", 0}}) {
        Downloader d;
        Fetch(d, ZLV_FAULT_HOST, path, 5000);
        ASSERT_TRUE(d.IsFinished()) << path;
        EXPECT_EQ(size, d.Response().Length()) << path;
    }
}

TEST(DownloaderPeer, StopWhileThePageFlowsLeavesNoPartialPage) {
    NEED_PEER(ZLV_FAULT_HOST);
    Downloader d;
    Fetch(d, ZLV_FAULT_HOST, "trickle", 500);
    EXPECT_FALSE(d.IsFinished());
    d.Stop();
    EXPECT_LE(WaitUntil([&] { return d.IsFinished(); }, 1000), 1000u);
    EXPECT_EQ(0u, d.Response().Length()) << "a page cut off by Stop must not pass as complete";
}

TEST(DownloaderPeer, StopDuringAWaitingReadEndsQuickly) {
    NEED_PEER(ZLV_FAULT_HOST);
    DWORD ms;
    {
        Downloader* d = new Downloader;
        Fetch(*d, ZLV_FAULT_HOST, "silent", 300);
        EXPECT_FALSE(d->IsFinished());
        DWORD start = GetTickCount();
        d->Stop();
        delete d;
        ms = MsSince(start);
    }
    printf("Stop and destruction during a waiting read: %lu ms\n", ms);
    RecordProperty("stop_ms", static_cast<int>(ms));
    EXPECT_LT(ms, 2000u);
}

TEST(DownloaderPeer, StopEndsAConnectThatGetsNoAnswer) {
    NEED_PEER(ZLV_UNANSWERED_HOST);
    DWORD ms;
    {
        Downloader d;
        ASSERT_TRUE(d.Start(Address(ZLV_UNANSWERED_HOST, "").c_str(), true));
        Sleep(500);
        EXPECT_FALSE(d.IsConnected());
        EXPECT_FALSE(d.IsFinished()) << "the connect should still be waiting for an answer";
        DWORD start = GetTickCount();
        d.Stop();
        EXPECT_LE(WaitUntil([&] { return d.IsFinished(); }, 1000), 1000u);
        ms = MsSince(start);
    }
    printf("Stop during a connect without answer: %lu ms\n", ms);
    EXPECT_LT(ms, 1000u);
}

TEST(DownloaderPeer, ReceiveSomeTellsBytesACloseASilenceAndAResetApart) {
    NEED_PEER(ZLV_FAULT_HOST);
    auto connect = [&](Downloader& d, const char* path) {
        d.OpenConnection(Address(ZLV_FAULT_HOST, path).c_str());
        ASSERT_NE(INVALID_SOCKET, d.Socket());
        ByteString request;
        request.Format(kRequestFormat, d.RequestTarget(), d.HostField());
        ASSERT_EQ(static_cast<int>(request.Length()),
                  d.SendAll(request.CStr(), request.Length(), 0, 1));
    };
    char buffer[4096];
    {
        Downloader d; // 10 bytes, then the server closes
        connect(d, "short");
        ASSERT_EQ(10, d.ReceiveSome(buffer, sizeof buffer, 2));
        EXPECT_EQ("HTTP/1.0 2", std::string(buffer, 10));
        EXPECT_EQ(0, d.ReceiveSome(buffer, sizeof buffer, 2));
    }
    {
        Downloader d; // 10 bytes, then silence
        connect(d, "partial");
        ASSERT_EQ(10, d.ReceiveSome(buffer, sizeof buffer, 1));
        EXPECT_EQ(-2, d.ReceiveSome(buffer, sizeof buffer, 1));
    }
    {
        Downloader d; // bytes, then a reset: a failure, never a close
        connect(d, "reset");
        int n, total = 0;
        while ((n = d.ReceiveSome(buffer, sizeof buffer, 2)) > 0)
            total += n;
        EXPECT_GT(total, 0);
        EXPECT_EQ(-1, n);
    }
}
