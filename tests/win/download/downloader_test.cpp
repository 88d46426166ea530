// Downloader cases that need no server: failed connections and Windows Sockets start-up.
#include <gtest/gtest.h>

#include "tests/win/download/test_util.h"

namespace {

// Nothing listens on port 80 there (the peers of the scripted cases use 127.0.0.1 and .2).
const char* ClosedHost() {
    const char* host = getenv("ZLV_CLOSED_HOST");
    return host && *host ? host : "127.0.0.77";
}

} // namespace

TEST(Downloader, SendBeforeTheConnectionStandsIsRefused) {
    Downloader d;
    EXPECT_FALSE(d.Send("GET / HTTP/1.0\r\n\r\n"));
    EXPECT_EQ(nullptr, d.request);
    EXPECT_FALSE(d.IsConnected());
    EXPECT_FALSE(d.IsBusy());
    EXPECT_FALSE(d.Start(nullptr, true));
    EXPECT_EQ(nullptr, d.thread);
}

TEST(Downloader, RefusedConnectionFailsStartAndFinishesEmpty) {
    Downloader d;
    DWORD start = GetTickCount();
    EXPECT_FALSE(d.Start(ClosedHost(), false));
    // The worker's end shows at once; the 10-second wait is only for a connect still under way.
    EXPECT_LT(MsSince(start), 5000u);
    EXPECT_LE(WaitUntil([&] { return Finished(d); }, 2000), 2000u);
    EXPECT_EQ(INVALID_SOCKET, d.socket);
    EXPECT_FALSE(d.IsConnected());
    EXPECT_EQ(0u, d.response.Length());
    EXPECT_FALSE(d.Send("GET / HTTP/1.0\r\n\r\n"));

    // A second Start only waits: no second worker.
    HANDLE first = d.thread;
    EXPECT_FALSE(d.Start(ClosedHost(), false));
    EXPECT_EQ(first, d.thread);
}

TEST(Downloader, NoWaitStartShowsAFailedConnectThroughFinished) {
    // The tray polls IsConnected on its timer after a Start that does not wait.
    Downloader d;
    ASSERT_TRUE(d.Start(ClosedHost(), true));
    bool everConnected = false;
    DWORD took = WaitUntil(
        [&] {
            everConnected |= d.IsConnected();
            return Finished(d);
        },
        3000);
    EXPECT_LE(took, 3000u);
    EXPECT_FALSE(everConnected);
    EXPECT_EQ(0u, d.response.Length());
}

TEST(Downloader, NameThatDoesNotResolveNeverConnects) {
    Downloader d;
    DWORD start = GetTickCount();
    EXPECT_FALSE(d.Start("no-such-host.invalid", false));
    EXPECT_LE(WaitUntil([&] { return Finished(d); }, 10000), 10000u);
    EXPECT_EQ(INVALID_SOCKET, d.socket);
    printf("unresolvable name gave up after %lu ms\n", MsSince(start));
}

TEST(Downloader, WinsockStaysStartedWhileAnyDownloaderLives) {
    Downloader* first = new Downloader;
    Downloader* second = new Downloader;
    delete first;
    SOCKET s = ::socket(AF_INET, SOCK_STREAM, 0);
    EXPECT_NE(INVALID_SOCKET, s) << "the second downloader still needs Windows Sockets";
    if (s != INVALID_SOCKET) closesocket(s);
    delete second;
    s = ::socket(AF_INET, SOCK_STREAM, 0);
    EXPECT_EQ(INVALID_SOCKET, s) << "the last downloader cleans Windows Sockets up";
    EXPECT_EQ(WSANOTINITIALISED, WSAGetLastError());
    if (s != INVALID_SOCKET) closesocket(s);
}
