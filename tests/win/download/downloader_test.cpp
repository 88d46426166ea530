// Downloader cases that need no outside server: failed connections, Windows Sockets start-up,
// and resets made through the socket layer's seam against a server of the test's own.
#include <gtest/gtest.h>

#include "agent/update/socket_connection.h"
#include "tests/win/common/loopback_http.h"
#include "tests/win/download/test_util.h"

namespace {

// Nothing listens on port 80 there (the peers of the scripted cases use 127.0.0.1 and .2).
std::string ClosedAddress() {
    const char* host = getenv("ZLV_CLOSED_HOST");
    return std::string("http://") + (host && *host ? host : "127.0.0.77") + "/updatedrates.php";
}

} // namespace

TEST(Downloader, SendBeforeTheConnectionStandsIsRefused) {
    Downloader d;
    EXPECT_FALSE(d.Send("GET / HTTP/1.0\r\n\r\n"));
    EXPECT_EQ(nullptr, d.Request());
    EXPECT_FALSE(d.IsConnected());
    EXPECT_FALSE(d.IsBusy());
    EXPECT_FALSE(d.Start(nullptr, true));
    EXPECT_EQ(nullptr, d.Thread());
}

TEST(Downloader, RefusedConnectionFailsStartAndFinishesEmpty) {
    Downloader d;
    DWORD start = GetTickCount();
    EXPECT_FALSE(d.Start(ClosedAddress().c_str(), false));
    // The worker's end shows at once; the 10-second wait is only for a connect still under way.
    EXPECT_LT(MsSince(start), 5000u);
    EXPECT_LE(WaitUntil([&] { return d.IsFinished(); }, 2000), 2000u);
    EXPECT_EQ(INVALID_SOCKET, d.Socket());
    EXPECT_FALSE(d.IsConnected());
    EXPECT_EQ(0u, d.Response().Length());
    EXPECT_FALSE(d.Send("GET / HTTP/1.0\r\n\r\n"));

    // A second Start only waits: no second worker.
    HANDLE first = d.Thread();
    EXPECT_FALSE(d.Start(ClosedAddress().c_str(), false));
    EXPECT_EQ(first, d.Thread());
}

TEST(Downloader, NoWaitStartShowsAFailedConnectThroughFinished) {
    // The tray polls IsConnected on its timer after a Start that does not wait.
    Downloader d;
    ASSERT_TRUE(d.Start(ClosedAddress().c_str(), true));
    bool everConnected = false;
    DWORD took = WaitUntil(
        [&] {
            everConnected |= d.IsConnected();
            return d.IsFinished();
        },
        3000);
    EXPECT_LE(took, 3000u);
    EXPECT_FALSE(everConnected);
    EXPECT_EQ(0u, d.Response().Length());
}

TEST(Downloader, NameThatDoesNotResolveNeverConnects) {
    Downloader d;
    DWORD start = GetTickCount();
    EXPECT_FALSE(d.Start("http://no-such-host.invalid/updatedrates.php", false));
    EXPECT_LE(WaitUntil([&] { return d.IsFinished(); }, 10000), 10000u);
    EXPECT_EQ(INVALID_SOCKET, d.Socket());
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

namespace {

// What the next read may still deliver before the connection breaks, and how it breaks.
struct Break {
    int bytesLeft;
    bool asWindows; // recv fails; otherwise as Wine shows it: a close with the peer gone
} g_break;

int WSAAPI BreakingRecv(SOCKET s, char* buffer, int size, int flags) {
    if (g_break.bytesLeft <= 0) {
        if (!g_break.asWindows) return 0;
        WSASetLastError(WSAECONNRESET);
        return -1;
    }
    int n = recv(s, buffer, size < g_break.bytesLeft ? size : g_break.bytesLeft, flags);
    if (n > 0) g_break.bytesLeft -= n;
    return n;
}

int WSAAPI PeerGone(SOCKET s, sockaddr* name, int* length) {
    if (g_break.bytesLeft > 0) return getpeername(s, name, length);
    WSASetLastError(WSAENOTCONN);
    return -1;
}

std::string FetchFromLoopback(const std::string& reply) {
    LoopbackHttpServer server(reply);
    EXPECT_TRUE(server.Listening());
    Downloader d;
    EXPECT_TRUE(d.Start("http://127.0.0.1/updatedrates.php", false));
    EXPECT_TRUE(d.Send("GET /updatedrates.php HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n"));
    EXPECT_LE(WaitUntil([&] { return d.IsFinished(); }, 5000), 5000u);
    return ResponseText(d);
}

} // namespace

TEST(Downloader, AResetMidBodyIsNeverAPage) {
    const std::string page = "USD\tUS Dollar\t1.0000\nEUR\tEuro\t0.9215\nGBP\tPound\t0.7893\n";
    const std::string head = "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n";
    const std::string counted = head + "Content-Length: 54\r\n\r\n" + page;
    const std::string open = head + "\r\n" + page;
    ASSERT_EQ(54u, page.size());
    // The same replies whole: the page comes through the same calls.
    EXPECT_EQ(page, FetchFromLoopback(counted));
    EXPECT_EQ(page, FetchFromLoopback(open));

    SocketReads real = g_socketReads;
    g_socketReads = {BreakingRecv, PeerGone};
    for (bool asWindows : {true, false}) {
        for (const std::string* reply : {&counted, &open}) {
            // Broken after the headers and two of the three lines.
            g_break = {static_cast<int>(reply->size()) - 20, asWindows};
            EXPECT_EQ("", FetchFromLoopback(*reply))
                << (asWindows ? "recv failing" : "close without peer") << ", "
                << (reply == &counted ? "with" : "without") << " Content-Length";
        }
    }
    g_socketReads = real;
}
