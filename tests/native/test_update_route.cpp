// The update server's address, the user's proxy settings and the proxy's answer to CONNECT:
// the texts that decide where the agent's request goes.
#include <gtest/gtest.h>

#include <string>

#include "agent/update/byte_string.h"
#include "agent/update/proxy_rule.h"
#include "agent/update/tunnel_reply.h"
#include "agent/update/update_address.h"

namespace {

// "https host port path", or "refused".
std::string Parsed(const char* text) {
    UpdateAddress a;
    if (!ParseUpdateAddress(text, &a)) return "refused";
    return std::string(a.https ? "https " : "http ") + a.host + " " + std::to_string(a.port) + " " +
           a.path;
}

// "direct", "broken", or the proxy as "host:port".
std::string Route(const char* server, const char* override, const char* url, bool enabled = true) {
    UpdateAddress target;
    EXPECT_TRUE(ParseUpdateAddress(url, &target)) << url;
    ProxySettings settings = {enabled, server, override};
    ProxyEndpoint proxy;
    switch (ChooseProxy(settings, target, &proxy)) {
    case kRouteDirect:
        return "direct";
    case kRouteBroken:
        return "broken";
    case kRouteProxy:
        break;
    }
    return std::string(proxy.host) + ":" + std::to_string(proxy.port);
}

std::string Request(const char* url, bool viaProxy) {
    UpdateAddress a;
    EXPECT_TRUE(ParseUpdateAddress(url, &a)) << url;
    ByteString target, host;
    FormatRequestTarget(a, viaProxy, &target);
    FormatHostField(a, &host);
    return std::string(target.CStr()) + " | " + host.CStr();
}

} // namespace

TEST(UpdateAddress, SchemeHostPortAndPath) {
    const char* cases[][2] = {
        {"http://127.0.0.1/updatedrates.php", "http 127.0.0.1 80 /updatedrates.php"},
        {"HTTPS://Rates.Example/r/today.php?cur=all",
         "https Rates.Example 443 /r/today.php?cur=all"},
        {"https://rates.example:8443/x", "https rates.example 8443 /x"},
        {"http://rates.example:65535", "http rates.example 65535 /"},
        {"http://rates.example?x=1", "http rates.example 80 /?x=1"},
        {"https://rates.example/page%20one#top", "https rates.example 443 /page%20one"},
        {"ftp://rates.example/x", "refused"},
        {"rates.example/updatedrates.php", "refused"},
        {"http:///x", "refused"},
        {"http://user@rates.example/x", "refused"},
        {"http://[::1]/x", "refused"},
        {"http://rates.example:0/x", "refused"},
        {"http://rates.example:65536/x", "refused"},
        {"http://rates.example:/x", "refused"},
        {"http://rates.example:80x/x", "refused"},
        {"http://rates.example/a b", "refused"},
        {"http://rates.example/a\r\nX-Evil: 1", "refused"},
        {"http://rates.example/\xC3\xA4", "refused"},
        {"http://rates example/", "refused"},
    };
    for (auto& c : cases)
        EXPECT_EQ(c[1], Parsed(c[0])) << c[0];
    // 160 characters are an address; 161 are not.
    std::string longest = "http://rates.example/" + std::string(160 - 21, 'p');
    EXPECT_EQ("http rates.example 80 /" + std::string(139, 'p'), Parsed(longest.c_str()));
    EXPECT_EQ("refused", Parsed((longest + "p").c_str()));
}

TEST(UpdateAddress, RequestTargetDirectAndThroughAProxy) {
    // Directly the origin form (RFC 9112 3.2.1), through a proxy the absolute form (3.2.2); the
    // Host field names the port only when it is not the scheme's own.
    EXPECT_EQ("/updatedrates.php | 127.0.0.1", Request("http://127.0.0.1/updatedrates.php", false));
    EXPECT_EQ("http://127.0.0.1/updatedrates.php | 127.0.0.1",
              Request("http://127.0.0.1/updatedrates.php", true));
    EXPECT_EQ("http://rates.example:8080/r?a=1 | rates.example:8080",
              Request("HTTP://rates.example:8080/r?a=1", true));
    EXPECT_EQ("/x | rates.example", Request("https://rates.example:443/x", false));
    EXPECT_EQ("/x | rates.example:80", Request("https://rates.example:80/x", false));
}

TEST(ProxySettings, WhichProxyServesWhichScheme) {
    const char* http = "http://rates.example/r";
    const char* https = "https://rates.example/r";
    // One proxy for every protocol, with or without its port and scheme.
    EXPECT_EQ("proxy.corp:3128", Route("proxy.corp:3128", nullptr, https));
    EXPECT_EQ("proxy.corp:80", Route("proxy.corp", nullptr, http));
    EXPECT_EQ("proxy.corp:8080", Route("http://proxy.corp:8080/", nullptr, https));
    // Per protocol, as Internet Options writes it when the proxies differ.
    const char* both = "http=web.corp:8080;https=tls.corp:8443;ftp=ftp.corp:21";
    EXPECT_EQ("web.corp:8080", Route(both, nullptr, http));
    EXPECT_EQ("tls.corp:8443", Route(both, nullptr, https));
    EXPECT_EQ("tls.corp:8443", Route("HTTPS=tls.corp:8443 http=web.corp:8080", nullptr, https));
    // No entry for the scheme: direct. SOCKS is not spoken, so it counts as none.
    EXPECT_EQ("direct", Route("http=web.corp:8080", nullptr, https));
    EXPECT_EQ("direct", Route("socks=socks.corp:1080", nullptr, https));
    EXPECT_EQ("direct", Route("https=", nullptr, https));
    EXPECT_EQ("direct", Route("", nullptr, https));
    EXPECT_EQ("direct", Route(nullptr, nullptr, https));
    // Turned off: the server named is not used.
    EXPECT_EQ("direct", Route("proxy.corp:3128", nullptr, https, false));
    // A proxy named that cannot be read: no way around it.
    for (const char* broken : {"proxy.corp:0", "proxy.corp:99999", "proxy.corp:", "proxy.corp:8x",
                               "https://proxy.corp:3128", "socks5://proxy.corp:1080",
                               "https=[::1]:3128", "https=user@proxy:1"})
        EXPECT_EQ("broken", Route(broken, nullptr, https)) << broken;
}

TEST(ProxySettings, OverrideListGoesDirect) {
    const char* proxy = "proxy.corp:3128";
    struct {
        const char* override;
        const char* url;
        const char* route;
    } cases[] = {
        {"<local>", "https://ratesbox/r", "direct"},
        {"<local>", "https://rates.example/r", "proxy.corp:3128"},
        {"<LOCAL>", "http://localhost/r", "direct"},
        {"*.example;<local>", "https://rates.example/r", "direct"},
        {"*.example", "https://example/r", "proxy.corp:3128"},
        {"RATES.example", "https://rates.EXAMPLE/r", "direct"},
        {"rates.example", "https://www.rates.example/r", "proxy.corp:3128"},
        {"127.0.0.*; 10.*", "http://127.0.0.1/updatedrates.php", "direct"},
        {"10.*", "http://127.0.0.1/updatedrates.php", "proxy.corp:3128"},
        {"r*s*e", "https://rates.example/r", "direct"},
        {"r*z", "https://rates.example/r", "proxy.corp:3128"},
        {";;  ;", "https://rates.example/r", "proxy.corp:3128"},
    };
    for (auto& c : cases)
        EXPECT_EQ(c.route, Route(proxy, c.override, c.url)) << c.override << " " << c.url;
}

TEST(TunnelReply, OnlyATwoHundredHeadAloneOpensTheTunnel) {
    struct {
        std::string reply;
        TunnelVerdict verdict;
    } cases[] = {
        {"HTTP/1.1 200 Connection established\r\n\r\n", kTunnelOpen},
        {"HTTP/1.0 200 OK\r\nProxy-Agent: x\r\n\r\n", kTunnelOpen},
        {"HTTP/1.1 204\n\n", kTunnelOpen},
        {"HTTP/1.1 200 OK\r\n", kTunnelNeedMore},
        {"HTTP/1.1 200 OK\r\n\r", kTunnelNeedMore},
        {"HTTP/1.1 407 Proxy Authentication Required\r\nProxy-Authenticate: Basic\r\n\r\n",
         kTunnelRefused},
        {"HTTP/1.1 403 Forbidden\r\n\r\n", kTunnelRefused},
        {"HTTP/1.1 302 Found\r\nLocation: http://portal/\r\n\r\n", kTunnelRefused},
        {"HTTP/1.1 199 Early\r\n\r\n", kTunnelRefused},
        {"HTTP/1.1 300 Choices\r\n\r\n", kTunnelRefused},
        {"HTTP/1.1 2000 OK\r\n\r\n", kTunnelRefused},
        {"HTTP/1.1 20 OK\r\n\r\n", kTunnelRefused},
        {"HTTX/1.1 200 OK\r\n\r\n", kTunnelRefused},
        {"\r\n\r\n", kTunnelRefused},
        // Bytes after the head came from no server: none has been spoken to yet.
        {"HTTP/1.1 200 OK\r\n\r\n\x16\x03\x03", kTunnelRefused},
        {std::string("HTTP/1.1 200 OK\r\nX: \0\r\n\r\n", 25), kTunnelRefused},
    };
    for (auto& c : cases)
        EXPECT_EQ(c.verdict, JudgeTunnelReply(c.reply.data(), c.reply.size())) << c.reply;
    std::string endless = "HTTP/1.1 200 OK\r\n" + std::string(kTunnelReplyLimit, 'x');
    EXPECT_EQ(kTunnelRefused, JudgeTunnelReply(endless.data(), kTunnelReplyLimit));
    EXPECT_EQ(kTunnelNeedMore, JudgeTunnelReply(endless.data(), kTunnelReplyLimit - 1));
}
