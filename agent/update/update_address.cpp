#include "agent/update/update_address.h"

#include <string.h>

#include "agent/update/byte_string.h"

namespace {

const unsigned kPortLimit = 65535;

bool StartsWithWord(const char* text, const char* word) {
    for (; *word; ++text, ++word) {
        char c = *text >= 'A' && *text <= 'Z' ? static_cast<char>(*text - 'A' + 'a') : *text;
        if (c != *word) return false;
    }
    return true;
}

bool HostByte(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_';
}

// Printable ASCII without the blank: what a request line carries unescaped.
bool PathByte(char c) {
    return c > ' ' && c < 0x7F;
}

} // namespace

bool ParseUpdateAddress(const char* text, UpdateAddress* address) {
    if (!text || !address || strlen(text) > kAddressLimit) return false;
    memset(address, 0, sizeof *address);
    if (StartsWithWord(text, "http://")) {
        text += 7;
    } else if (StartsWithWord(text, "https://")) {
        text += 8;
        address->https = true;
    } else {
        return false;
    }
    size_t n = 0;
    while (HostByte(text[n]))
        ++n;
    if (n == 0) return false;
    memcpy(address->host, text, n);
    text += n;
    address->port = address->https ? kHttpsDefaultPort : kHttpDefaultPort;
    if (*text == ':') {
        unsigned port = 0;
        size_t digits = 0;
        for (++text; *text >= '0' && *text <= '9'; ++text, ++digits) {
            port = port * 10 + static_cast<unsigned>(*text - '0');
            if (port > kPortLimit) return false;
        }
        if (digits == 0 || port == 0) return false;
        address->port = static_cast<unsigned short>(port);
    }
    // A user name, an IPv6 literal or anything else in the authority is no address of ours.
    if (*text && *text != '/' && *text != '?' && *text != '#') return false;
    n = 0;
    if (*text != '/') address->path[n++] = '/';
    for (; *text && *text != '#'; ++text) {
        if (!PathByte(*text)) return false;
        address->path[n++] = *text;
    }
    // The fragment stays with whoever reads the address; it is never sent.
    for (; *text; ++text)
        if (!PathByte(*text)) return false;
    return true;
}

void FormatHostField(const UpdateAddress& address, ByteString* out) {
    unsigned own = address.https ? kHttpsDefaultPort : kHttpDefaultPort;
    if (address.port == own)
        out->Assign(address.host);
    else
        out->Format("%s:%u", address.host, static_cast<unsigned>(address.port));
}

void FormatRequestTarget(const UpdateAddress& address, bool viaProxy, ByteString* out) {
    if (!viaProxy) {
        out->Assign(address.path);
        return;
    }
    ByteString host;
    FormatHostField(address, &host);
    out->Format("%s://%s%s", address.https ? "https" : "http", host.CStr() ? host.CStr() : "",
                address.path);
}
