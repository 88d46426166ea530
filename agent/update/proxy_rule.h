// Which way a request goes under the user's proxy settings, as Internet Options keeps them:
// ProxyEnable, ProxyServer ("host:port" for every protocol, or "http=host:port;https=host:port")
// and ProxyOverride (host patterns with "*", and "<local>" for names without a dot).
#pragma once

#include "agent/update/update_address.h"

struct ProxySettings {
    bool enabled;
    const char* server;   // null or empty: none
    const char* override; // null or empty: none
};

enum ProxyRoute {
    kRouteDirect,
    kRouteProxy,
    kRouteBroken, // a proxy is named for the scheme but cannot be read: the attempt fails
};

struct ProxyEndpoint {
    char host[kAddressLimit + 1];
    unsigned short port;
};

ProxyRoute ChooseProxy(const ProxySettings& settings, const UpdateAddress& target,
                       ProxyEndpoint* proxy);

// Whether the override list sends this host around the proxy.
bool BypassesProxy(const char* overrideList, const char* host);
