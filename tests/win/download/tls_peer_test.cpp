// https and the user's proxy against real peers: nginx over TLS with certificates from a test CA
// that only this prefix trusts, a TLS server of our own that ends its streams in chosen ways,
// tinyproxy, and servers that answer CONNECT wrongly. Only tests/scripts/test_tls.py runs it,
// with its peers up and the addresses in the environment; a peer it is not given fails the case.
#include <gtest/gtest.h>

#include "tests/win/download/test_util.h"

namespace {

const char kRequestFormat[] =
    "GET %s HTTP/1.0\r\nHost: %s\r\nAccept: text/html \r\nCache-Control: no-cache \r\n\r\n";
const char kInternetSettings[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";

std::string Peer(const char* name) {
    const char* value = getenv(name);
    if (!value || !*value) ADD_FAILURE() << "tests/scripts/test_tls.py sets " << name;
    return value ? value : "";
}

// One attempt as the agent makes it; the page, or "" when there is none.
std::string Fetch(const std::string& address) {
    Downloader d;
    if (!d.Start(address.c_str(), false)) {
        EXPECT_LE(WaitUntil([&] { return d.IsFinished(); }, 12000), 12000u) << address;
        EXPECT_EQ(0u, d.Response().Length()) << address;
        return "";
    }
    ByteString request;
    request.Format(kRequestFormat, d.RequestTarget(), d.HostField());
    EXPECT_TRUE(d.Send(request)) << address;
    EXPECT_LE(WaitUntil([&] { return d.IsFinished(); }, 12000), 12000u) << address;
    return ResponseText(d);
}

// The user's proxy settings for one scope, in the values Internet Options writes; gone after it.
struct UserProxy {
    UserProxy(const char* server, const char* override = nullptr, DWORD enable = 1) {
        HKEY key = nullptr;
        EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, kInternetSettings, 0, nullptr,
                                                 0, KEY_SET_VALUE, nullptr, &key, nullptr));
        RegSetValueExA(key, "ProxyEnable", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&enable),
                       sizeof enable);
        RegSetValueExA(key, "ProxyServer", 0, REG_SZ, reinterpret_cast<const BYTE*>(server),
                       static_cast<DWORD>(strlen(server) + 1));
        if (override)
            RegSetValueExA(key, "ProxyOverride", 0, REG_SZ, reinterpret_cast<const BYTE*>(override),
                           static_cast<DWORD>(strlen(override) + 1));
        RegCloseKey(key);
    }
    ~UserProxy() {
        HKEY key = nullptr;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, kInternetSettings, 0, KEY_SET_VALUE, &key) != 0)
            return;
        for (const char* name : {"ProxyEnable", "ProxyServer", "ProxyOverride"})
            RegDeleteValueA(key, name);
        RegCloseKey(key);
    }
};

} // namespace

TEST(TlsPeer, TheHttpsPageIsTheHttpPageByteForByte) {
    std::string page = FileText(Peer("ZLV_TLS_PAGE"));
    ASSERT_GT(page.size(), 0u);
    EXPECT_EQ(page, Fetch(Peer("ZLV_TLS_GOOD")));
    EXPECT_EQ(page, Fetch(Peer("ZLV_HTTP_GOOD")));
    // No length and no chunks: the server's close_notify is what ends the page.
    EXPECT_EQ(FileText(Peer("ZLV_MATRIX_PAGE")), Fetch(Peer("ZLV_TLS_CLOSE_NOTIFY")));
}

TEST(TlsPeer, EachRefusalIsAnAttemptWithoutAPage) {
    for (const char* name :
         {"ZLV_TLS_UNTRUSTED", "ZLV_TLS_WRONG_NAME", "ZLV_TLS_EXPIRED", "ZLV_TLS_PLAIN_HTTP",
          "ZLV_TLS_HANDSHAKE_RESET", "ZLV_TLS_CUT_WITHOUT_CLOSE_NOTIFY"}) {
        DWORD start = GetTickCount();
        EXPECT_EQ("", Fetch(Peer(name))) << name;
        printf("%s: over after %lu ms\n", name, MsSince(start));
    }
}

TEST(TlsPeer, ThroughTheUsersProxyForHttpAndHttps) {
    std::string page = FileText(Peer("ZLV_TLS_PAGE"));
    // Internet Options' per-protocol form: tinyproxy for both, a CONNECT tunnel for https.
    std::string both = "http=" + Peer("ZLV_PROXY") + ";https=" + Peer("ZLV_PROXY");
    UserProxy proxy(both.c_str());
    EXPECT_EQ(page, Fetch(Peer("ZLV_TLS_GOOD")));
    EXPECT_EQ(page, Fetch(Peer("ZLV_HTTP_GOOD")));
    // Through the tunnel the certificate is still the server's to prove, for the server's name.
    EXPECT_EQ("", Fetch(Peer("ZLV_TLS_WRONG_NAME")));
}

TEST(TlsPeer, AProxyThatRefusesOrLiesIsAFailedAttempt) {
    const std::string good = Peer("ZLV_TLS_GOOD");
    for (const char* name : {"ZLV_PROXY_407", "ZLV_PROXY_400", "ZLV_PROXY_PAGE_FOR_CONNECT"}) {
        UserProxy proxy(Peer(name).c_str());
        EXPECT_EQ("", Fetch(good)) << name;
    }
    // A proxy the settings name but nobody can read is never gone around.
    UserProxy broken("https://proxy.invalid:3128");
    EXPECT_EQ("", Fetch(good));
}

TEST(TlsPeer, HostsOnTheOverrideListGoDirect) {
    std::string page = FileText(Peer("ZLV_TLS_PAGE"));
    const std::string good = Peer("ZLV_TLS_GOOD"); // its host has no dot: "<local>" takes it
    const std::string closed = Peer("ZLV_PROXY_CLOSED");
    {
        UserProxy proxy(closed.c_str());
        EXPECT_EQ("", Fetch(good)) << "without the override the closed proxy is used";
    }
    {
        UserProxy proxy(closed.c_str(), "*.corp.example;<local>");
        EXPECT_EQ(page, Fetch(good));
    }
    {
        UserProxy proxy(closed.c_str(), nullptr, 0);
        EXPECT_EQ(page, Fetch(good)) << "ProxyEnable 0";
    }
}
