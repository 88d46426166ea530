#include "agent/update/proxy_settings.h"

#include <windows.h>

#include <string.h>

#include "agent/owners.h"

namespace {

const char kInternetSettingsKey[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";

// A text value whole, terminated; empty when it is not one or does not fit.
void ReadText(HKEY key, const char* name, char* text) {
    DWORD type = 0, size = kProxyTextLimit;
    text[0] = '\0';
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(text), &size) !=
            ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ) || size > kProxyTextLimit) {
        text[0] = '\0';
        return;
    }
    text[size] = '\0'; // a value stored without its terminator ends here all the same
}

} // namespace

UserProxySettings::UserProxySettings() {
    server[0] = override[0] = '\0';
    settings = {false, server, override};
}

void ReadUserProxySettings(UserProxySettings* user) {
    user->server[0] = user->override[0] = '\0';
    user->settings = {false, user->server, user->override};
    ScopedKey key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kInternetSettingsKey, 0, KEY_QUERY_VALUE, key.Receive()) !=
        ERROR_SUCCESS)
        return;
    DWORD type = 0, enabled = 0, size = sizeof enabled;
    if (RegQueryValueExA(key.Get(), "ProxyEnable", nullptr, &type,
                         reinterpret_cast<BYTE*>(&enabled), &size) != ERROR_SUCCESS ||
        type != REG_DWORD || size != sizeof enabled || enabled == 0)
        return;
    ReadText(key.Get(), "ProxyServer", user->server);
    ReadText(key.Get(), "ProxyOverride", user->override);
    user->settings.enabled = true;
}
