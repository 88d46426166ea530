#include "conduit/rates_path.h"

#include <string.h>

namespace {

const char kRatesFileName[] = "mrvrates.zlv";

bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

bool IsLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

} // namespace

RatesPath ComposeRatesPath(const char* folder, RatesLocation* location) {
    memset(location, 0, sizeof *location);
    if (!folder || !IsLetter(folder[0]) || folder[1] != ':' || !IsSeparator(folder[2]))
        return kRatesPathNoFolder;
    const size_t length = strlen(folder);
    const bool separator = folder[length - 1] != '\\';
    if (length + separator + sizeof kRatesFileName > kRatesPathSize) return kRatesPathTooLong;
    memcpy(location->path, folder, length);
    if (separator) location->path[length] = '\\';
    memcpy(location->path + length + separator, kRatesFileName, sizeof kRatesFileName);
    location->root[0] = folder[0];
    location->root[1] = ':';
    location->root[2] = '\\';
    return kRatesPathReady;
}
