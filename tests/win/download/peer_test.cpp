// Downloads from real peers: nginx serving the rates page, and a fault server of our own that
// misbehaves on request. tests/scripts/test_download.py starts them and runs these cases.
#include <gtest/gtest.h>

#include "agent/update/rates_file.h"
#include "agent/update/rates_format.h"
#include "tests/win/download/test_util.h"

#include <psapi.h>

namespace {

const char kRequestFormat[] =
    "GET /%s HTTP/1.0\r\nHost: %s\r\nAccept: text/html \r\nCache-Control: no-cache \r\n\r\n";

const char* Env(const char* name) {
    const char* value = getenv(name);
    return value && *value ? value : nullptr;
}

#define NEED_PEER(var)                                                                             \
    const char* var = Env(#var);                                                                   \
    if (!var) GTEST_SKIP() << "run by tests/scripts/test_download.py, which sets " #var

// Connects, sends the agent's request for `path` and returns when the worker has finished.
DWORD Fetch(Downloader& d, const char* host, const char* path, DWORD limitMs) {
    EXPECT_TRUE(d.Start(host, false));
    ByteString request;
    request.Format(kRequestFormat, path, host);
    DWORD start = GetTickCount();
    EXPECT_TRUE(d.Send(request));
    WaitUntil([&] { return Finished(d); }, limitMs);
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
    std::string page = ReadWholeFile(ZLV_NGINX_PAGE);
    ASSERT_GT(page.size(), 0u);

    Downloader d;
    DWORD ms = Fetch(d, ZLV_NGINX_HOST, "updatedrates.php", 5000);
    ASSERT_TRUE(Finished(d));
    printf("loopback page of %u bytes: %lu ms from the request to the finished flag\n",
           static_cast<unsigned>(page.size()), ms);
    RecordProperty("loopback_ms", static_cast<int>(ms));
    EXPECT_LT(ms, 1000u);

    std::string response = ResponseText(d);
    EXPECT_EQ(0u, response.find("HTTP/1.1 200 OK\r\n")) << response.substr(0, 40);
    size_t body = response.find("\r\n\r\n");
    ASSERT_NE(std::string::npos, body);
    EXPECT_EQ(page, response.substr(body + 4)) << "the body ends with the page's last byte";

    // The script compares the file with what zlvtool makes of the same response.
    std::string out = ZLV_DOWNLOAD_OUT;
    EXPECT_TRUE(WriteWholeFile(out + "\\response.txt", response));
    EXPECT_TRUE(WriteRatesFile(d.response, out.c_str()));
}

TEST(DownloaderPeer, ErrorStatusFinishesWithAnEmptyResponse) {
    NEED_PEER(ZLV_FAULT_HOST);
    for (const char* path : {"status/404", "status/500"}) {
        Downloader d;
        Fetch(d, ZLV_FAULT_HOST, path, 5000);
        EXPECT_TRUE(Finished(d)) << path;
        EXPECT_EQ(0u, d.response.Length()) << path;
    }
}

TEST(DownloaderPeer, ServerClosingBeforeAWholeChunkLeavesTheWorkerPolling) {
    NEED_PEER(ZLV_FAULT_HOST);
    Downloader d;
    Fetch(d, ZLV_FAULT_HOST, "short", 1500);
    EXPECT_FALSE(Finished(d)) << "nothing came to judge the status by: keep trying";
    DWORD start = GetTickCount();
    d.Stop();
    EXPECT_LE(WaitUntil([&] { return Finished(d); }, 1000), 1000u);
    EXPECT_EQ(0u, d.response.Length());
    EXPECT_LT(MsSince(start), 1000u);
}

TEST(DownloaderPeer, StallEndsTheAttemptWithoutAPage) {
    NEED_PEER(ZLV_FAULT_HOST);
    // The server sends 74 bytes, then nothing for 3 seconds, then more: a page cut short by the
    // read time-out is no page, or the handheld would get its first lines as the day's rates.
    Downloader d;
    DWORD ms = Fetch(d, ZLV_FAULT_HOST, "stall", 6000);
    ASSERT_TRUE(Finished(d));
    EXPECT_GE(ms, 1900u);
    EXPECT_LT(ms, 3000u) << "ended by the 2-second read time-out, not by the server";
    EXPECT_EQ("", ResponseText(d));
}

TEST(DownloaderPeer, EndlessBodyStopsAtTheBoundWithMemoryBounded) {
    NEED_PEER(ZLV_FAULT_HOST);
    SIZE_T before = WorkingSet(), peak = before;
    ASSERT_GT(before, 0u) << "no memory figures to measure with";
    Downloader d;
    EXPECT_TRUE(d.Start(ZLV_FAULT_HOST, false));
    ByteString request;
    request.Format(kRequestFormat, "flood", ZLV_FAULT_HOST);
    DWORD start = GetTickCount();
    EXPECT_TRUE(d.Send(request));
    DWORD took = WaitUntil(
        [&] {
            SIZE_T now = WorkingSet();
            if (now > peak) peak = now;
            return Finished(d);
        },
        10000);
    ASSERT_TRUE(Finished(d)) << "still reading an endless body after 10 s";
    EXPECT_EQ(0u, d.response.Length());
    SIZE_T grew = peak - before;
    printf("endless body: gave up after %lu ms, the working set grew by at most %lu KiB "
           "(bound %d bytes)\n",
           took, static_cast<unsigned long>(grew / 1024), kResponseLimit);
    RecordProperty("flood_peak_kib", static_cast<int>(grew / 1024));
    RecordProperty("flood_ms", static_cast<int>(MsSince(start)));
    EXPECT_LT(grew, 2u * 1024 * 1024);
}

TEST(DownloaderPeer, PageLongerThanAHandheldRecordIsDropped) {
    NEED_PEER(ZLV_FAULT_HOST);
    // The rates body is the 5-byte count field and the page: at most 65,535 bytes together.
    {
        Downloader d;
        Fetch(d, ZLV_FAULT_HOST, "page/65530", 5000);
        ASSERT_TRUE(Finished(d));
        std::string response = ResponseText(d);
        size_t body = response.find("\r\n\r\n");
        ASSERT_NE(std::string::npos, body);
        EXPECT_EQ(65530u, response.size() - body - 4) << "the largest page that fits comes whole";
    }
    {
        Downloader d;
        Fetch(d, ZLV_FAULT_HOST, "page/65531", 5000);
        ASSERT_TRUE(Finished(d));
        EXPECT_EQ(0u, d.response.Length()) << "one byte more cannot reach the handheld";
    }
}

TEST(DownloaderPeer, StopWhileThePageFlowsLeavesNoPartialPage) {
    NEED_PEER(ZLV_FAULT_HOST);
    Downloader d;
    Fetch(d, ZLV_FAULT_HOST, "trickle", 500);
    EXPECT_FALSE(Finished(d));
    d.Stop();
    EXPECT_LE(WaitUntil([&] { return Finished(d); }, 1000), 1000u);
    EXPECT_EQ(0u, d.response.Length()) << "a page cut off by Stop must not pass as complete";
}

TEST(DownloaderPeer, StopDuringAWaitingReadEndsQuickly) {
    NEED_PEER(ZLV_FAULT_HOST);
    DWORD ms;
    {
        Downloader* d = new Downloader;
        Fetch(*d, ZLV_FAULT_HOST, "silent", 300);
        EXPECT_FALSE(Finished(*d));
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
        ASSERT_TRUE(d.Start(ZLV_UNANSWERED_HOST, true));
        Sleep(500);
        EXPECT_FALSE(d.IsConnected());
        EXPECT_FALSE(Finished(d)) << "the connect should still be waiting for an answer";
        DWORD start = GetTickCount();
        d.Stop();
        EXPECT_LE(WaitUntil([&] { return Finished(d); }, 1000), 1000u);
        ms = MsSince(start);
    }
    printf("Stop during a connect without answer: %lu ms\n", ms);
    EXPECT_LT(ms, 1000u);
}

TEST(DownloaderPeer, ReceiveAllCountsOnlyAFullBuffer) {
    NEED_PEER(ZLV_FAULT_HOST);
    auto connect = [&](Downloader& d, const char* path) {
        d.OpenConnection(ZLV_FAULT_HOST);
        ASSERT_NE(INVALID_SOCKET, d.socket);
        ByteString request;
        request.Format(kRequestFormat, path, ZLV_FAULT_HOST);
        ASSERT_EQ(static_cast<int>(request.Length()),
                  d.SendAll(request.CStr(), request.Length(), 0, 1));
    };
    char buffer[33];
    {
        // 10 bytes, then the server closes: 0, with the bytes in the buffer.
        Downloader d;
        connect(d, "short");
        memset(buffer, 0, sizeof buffer);
        EXPECT_EQ(0, d.ReceiveAll(buffer, 32, 0, 2));
        EXPECT_STREQ("HTTP/1.0 2", buffer);
    }
    {
        // Exactly the size asked for: returned at once, without waiting for more.
        Downloader d;
        connect(d, "exact32");
        DWORD start = GetTickCount();
        EXPECT_EQ(32, d.ReceiveAll(buffer, 32, 0, 2));
        EXPECT_LT(MsSince(start), 1000u);
    }
    {
        // 10 bytes, then silence: -1 after the time-out, the bytes still in the buffer.
        Downloader d;
        connect(d, "partial");
        memset(buffer, 0, sizeof buffer);
        DWORD start = GetTickCount();
        EXPECT_EQ(-1, d.ReceiveAll(buffer, 32, 0, 1));
        EXPECT_GE(MsSince(start), 900u);
        EXPECT_STREQ("HTTP/1.0 2", buffer);
    }
}
