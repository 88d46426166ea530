// The update server's address, as the build setting gives it: http:// or https://, a host, an
// optional port and a path. Read at run time, so that one rule judges it for the agent and the
// tools, and nothing in it can reach the request's lines.
#pragma once
#include <stddef.h>

class ByteString;

enum {
    // Whole address; the request, which may carry it twice, then stays within what the agent
    // formats (510 characters).
    kAddressLimit = 160,
    kHttpDefaultPort = 80,
    kHttpsDefaultPort = 443,
};

struct UpdateAddress {
    bool https;
    unsigned short port;
    char host[kAddressLimit + 1];
    char path[kAddressLimit + 1]; // from its "/", the query with it; never the fragment
};

// False for anything but an http or https address whose every byte may stand in a request line:
// no user name, no IPv6 literal, no blank, control or non-ASCII byte, a port of 1 to 65535, at
// most kAddressLimit characters.
bool ParseUpdateAddress(const char* text, UpdateAddress* address);

// The host as Host and CONNECT name it: "host", or "host:port" when the port is not the scheme's.
void FormatHostField(const UpdateAddress& address, ByteString* out);

// What the request line asks for: the path, or through a proxy the whole address.
void FormatRequestTarget(const UpdateAddress& address, bool viaProxy, ByteString* out);
