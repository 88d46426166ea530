// Any bytes as the update server's address, the user's proxy settings and a proxy's answer to
// CONNECT: nothing read past its end, and nothing that reaches a request line or a connect is
// other than the rules allow. The input is three texts split at the first two zero bytes.
#include <ctype.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "agent/update/byte_string.h"
#include "agent/update/proxy_rule.h"
#include "agent/update/tunnel_reply.h"
#include "agent/update/update_address.h"

namespace {

void Check(bool ok) {
    if (!ok) abort();
}

bool HostByte(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_';
}

bool AllHostBytes(const char* text) {
    if (!*text) return false;
    for (; *text; ++text)
        if (!HostByte(*text)) return false;
    return true;
}

// What may stand in a request line: printable ASCII, no blank.
bool LineSafe(const char* text) {
    for (; *text; ++text)
        if (*text <= ' ' || *text >= 0x7F) return false;
    return true;
}

// The proxy's answer as RFC 9112 reads a status line: "HTTP/1.d", a blank, three digits, then a
// blank or the line's end; a head ending at the first blank line, with nothing after it.
TunnelVerdict TunnelOracle(const std::string& r) {
    if (r.find('\0') != std::string::npos) return kTunnelRefused;
    size_t crlf = r.find("\n\r\n"), lf = r.find("\n\n");
    size_t end = std::string::npos;
    if (crlf != std::string::npos) end = crlf + 3;
    if (lf != std::string::npos && lf + 2 < end) end = lf + 2;
    if (end == std::string::npos)
        return r.size() >= kTunnelReplyLimit ? kTunnelRefused : kTunnelNeedMore;
    if (end != r.size() || r.compare(0, 7, "HTTP/1.") != 0 || r.size() < 12) return kTunnelRefused;
    if (!isdigit(static_cast<unsigned char>(r[7])) || r[8] != ' ') return kTunnelRefused;
    for (int i = 9; i < 12; ++i)
        if (!isdigit(static_cast<unsigned char>(r[i]))) return kTunnelRefused;
    char after = r.size() > 12 ? r[12] : '\0';
    if (after != ' ' && after != '\r' && after != '\n') return kTunnelRefused;
    return r[9] == '2' ? kTunnelOpen : kTunnelRefused;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string input(reinterpret_cast<const char*>(data), size);
    size_t a = input.find('\0');
    std::string url = input.substr(0, a);
    std::string rest = a == std::string::npos ? "" : input.substr(a + 1);
    size_t b = rest.find('\0');
    std::string server = rest.substr(0, b);
    std::string reply = b == std::string::npos ? rest : rest.substr(b + 1);

    UpdateAddress address;
    if (ParseUpdateAddress(url.c_str(), &address)) {
        Check(url.size() <= kAddressLimit && AllHostBytes(address.host));
        Check(address.path[0] == '/' && LineSafe(address.path) && address.port != 0);
        Check(address.https == (url.size() > 5 && (url[4] == 's' || url[4] == 'S')));
        for (bool viaProxy : {false, true}) {
            ByteString target, host;
            FormatRequestTarget(address, viaProxy, &target);
            FormatHostField(address, &host);
            Check(target.CStr() && LineSafe(target.CStr()) && host.CStr() && LineSafe(host.CStr()));
        }
        // The server list doubles as the override list: both are read to their end and no further.
        for (bool enabled : {false, true}) {
            ProxySettings settings = {enabled, server.c_str(), server.c_str()};
            ProxyEndpoint proxy;
            ProxyRoute route = ChooseProxy(settings, address, &proxy);
            if (!enabled) Check(route == kRouteDirect);
            if (route == kRouteProxy) Check(AllHostBytes(proxy.host) && proxy.port != 0);
        }
    }
    if (reply.size() > kTunnelReplyLimit) reply.resize(kTunnelReplyLimit);
    // An exact copy, so that a read past the end is the sanitizer's to see.
    char* copy = static_cast<char*>(malloc(reply.size() + 1));
    memcpy(copy, reply.data(), reply.size());
    Check(JudgeTunnelReply(copy, reply.size()) == TunnelOracle(reply));
    free(copy);
    return 0;
}
