#include "tests/win/common/wine_share.h"

#include <windows.h>

#include "tests/win/common/file_helpers.h"

WineShare::WineShare(const char* host, const char* share) {
    char prefix[MAX_PATH] = "";
    DWORD n = GetEnvironmentVariableA("WINEPREFIX", prefix, sizeof prefix);
    if (n == 0 || n >= sizeof prefix) return;
    std::string unc = "Z:" + std::string(prefix) + "/dosdevices/unc";
    for (char& c : unc)
        if (c == '/') c = '\\';
    hostFolder = unc + "\\" + host;
    for (const std::string& f : {unc, hostFolder, hostFolder + "\\" + share})
        CreateDirectoryA(f.c_str(), nullptr);
    folder = hostFolder + "\\" + share;
}

WineShare::~WineShare() {
    if (!hostFolder.empty()) RemoveTree(hostFolder);
}
