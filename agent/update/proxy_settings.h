// The user's proxy settings from the registry, as Internet Options writes them for that user.
#pragma once

#include "agent/update/proxy_rule.h"

enum { kProxyTextLimit = 4096 };

struct UserProxySettings {
    UserProxySettings();
    ProxySettings settings; // points into the texts below
    char server[kProxyTextLimit + 1];
    char override[kProxyTextLimit + 1];
};

// Anything missing, of another type or too long reads as no proxy, and as no override list.
void ReadUserProxySettings(UserProxySettings* user);
