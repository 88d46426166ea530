#include "conduit/rates_path.h"

#include <string.h>

namespace {

const wchar_t kRatesFileName[] = L"mrvrates.zlv";

bool IsSeparator(wchar_t c) {
    return c == L'\\' || c == L'/';
}

bool IsLetter(wchar_t c) {
    return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z');
}

} // namespace

RatesPath ComposeRatesPath(const wchar_t* folder, RatesLocation* location) {
    memset(location, 0, sizeof *location);
    if (!folder || !IsLetter(folder[0]) || folder[1] != L':' || !IsSeparator(folder[2]))
        return kRatesPathNoFolder;
    const size_t length = wcslen(folder);
    const bool separator = folder[length - 1] != L'\\';
    const size_t name = sizeof kRatesFileName / sizeof kRatesFileName[0]; // with its terminator
    if (length + separator + name > kRatesPathSize) return kRatesPathTooLong;
    wmemcpy(location->path, folder, length);
    if (separator) location->path[length] = L'\\';
    wmemcpy(location->path + length + separator, kRatesFileName, name);
    location->root[0] = folder[0];
    location->root[1] = L':';
    location->root[2] = L'\\';
    return kRatesPathReady;
}
