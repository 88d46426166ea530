#include "agent/update/proxy_rule.h"

#include <string.h>

namespace {

const unsigned kPortLimit = 65535;

struct Span {
    const char* text;
    size_t length;
};

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool Separator(char c) {
    return c == ';' || c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool SameWord(Span span, const char* word) {
    size_t n = strlen(word);
    if (span.length != n) return false;
    for (size_t i = 0; i < n; ++i)
        if (Lower(span.text[i]) != word[i]) return false;
    return true;
}

// The next entry of a list, separators skipped; false at the end.
bool NextEntry(const char** list, Span* entry) {
    const char* p = *list;
    while (*p && Separator(*p))
        ++p;
    const char* start = p;
    while (*p && !Separator(*p))
        ++p;
    *list = p;
    *entry = {start, static_cast<size_t>(p - start)};
    return entry->length > 0;
}

// "host", "host:port", either after "http://" and before a final "/"; the port is 80 unless said.
bool ReadEndpoint(Span value, ProxyEndpoint* proxy) {
    const char* p = value.text;
    const char* end = value.text + value.length;
    if (value.length > 7 && SameWord({p, 7}, "http://")) p += 7;
    if (end > p && end[-1] == '/') --end;
    const char* colon = static_cast<const char*>(memchr(p, ':', static_cast<size_t>(end - p)));
    const char* hostEnd = colon ? colon : end;
    size_t n = static_cast<size_t>(hostEnd - p);
    if (n == 0 || n > kAddressLimit) return false;
    for (size_t i = 0; i < n; ++i) {
        char c = Lower(p[i]);
        if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_'))
            return false;
    }
    memset(proxy, 0, sizeof *proxy);
    memcpy(proxy->host, p, n);
    proxy->port = kHttpDefaultPort;
    if (!colon) return true;
    unsigned port = 0;
    if (colon + 1 == end) return false;
    for (const char* d = colon + 1; d < end; ++d) {
        if (*d < '0' || *d > '9') return false;
        port = port * 10 + static_cast<unsigned>(*d - '0');
        if (port > kPortLimit) return false;
    }
    if (port == 0) return false;
    proxy->port = static_cast<unsigned short>(port);
    return true;
}

// '*' stands for any run of characters; letters match either case.
bool Matches(Span pattern, const char* text) {
    size_t p = 0, t = 0, n = strlen(text);
    size_t star = static_cast<size_t>(-1), resume = 0;
    while (t < n) {
        if (p < pattern.length && pattern.text[p] == '*') {
            star = p++;
            resume = t;
        } else if (p < pattern.length && Lower(pattern.text[p]) == Lower(text[t])) {
            ++p;
            ++t;
        } else if (star != static_cast<size_t>(-1)) {
            p = star + 1;
            t = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.length && pattern.text[p] == '*')
        ++p;
    return p == pattern.length;
}

} // namespace

bool BypassesProxy(const char* overrideList, const char* host) {
    if (!overrideList) return false;
    Span entry;
    while (NextEntry(&overrideList, &entry)) {
        if (SameWord(entry, "<local>")) {
            if (!strchr(host, '.')) return true;
        } else if (Matches(entry, host)) {
            return true;
        }
    }
    return false;
}

ProxyRoute ChooseProxy(const ProxySettings& settings, const UpdateAddress& target,
                       ProxyEndpoint* proxy) {
    if (!settings.enabled || !settings.server) return kRouteDirect;
    const char* scheme = target.https ? "https" : "http";
    Span chosen = {nullptr, 0}, common = {nullptr, 0};
    const char* list = settings.server;
    Span entry;
    while (NextEntry(&list, &entry)) {
        const char* equals = static_cast<const char*>(memchr(entry.text, '=', entry.length));
        if (!equals) {
            if (!common.text) common = entry;
            continue;
        }
        Span name = {entry.text, static_cast<size_t>(equals - entry.text)};
        if (!chosen.text && SameWord(name, scheme))
            chosen = {equals + 1, entry.length - name.length - 1};
    }
    if (!chosen.text) chosen = common;
    // No entry for this scheme (an "http=" list asked for https, or "socks=" alone): direct.
    if (!chosen.text || chosen.length == 0) return kRouteDirect;
    if (BypassesProxy(settings.override, target.host)) return kRouteDirect;
    return ReadEndpoint(chosen, proxy) ? kRouteProxy : kRouteBroken;
}
