// A network share as Wine serves one: \\host\share is the prefix's dosdevices\unc\host\share,
// reached here through drive Z:.
#pragma once
#include <string>

struct WineShare {
    WineShare(const char* host, const char* share);
    ~WineShare();
    WineShare(const WineShare&) = delete;
    WineShare& operator=(const WineShare&) = delete;
    std::string hostFolder, folder; // empty when there is no Wine prefix to put it in
};
