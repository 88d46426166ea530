#include "agent/shell/rates_folder.h"

#include <stdlib.h>
#include <string.h>

#include "agent/owners.h"
#include "agent/path/path_calls.h"
#include "agent/path/path_text.h"

namespace {

const char kOwnFolder[] = "\\Zelvantic";

char* CopyText(const char* text) {
    size_t n = strlen(text) + 1;
    char* copy = static_cast<char*>(malloc(n));
    if (copy) memcpy(copy, text, n);
    return copy;
}

bool IsFolder(const char* path) {
    DWORD attributes = PathAttributes(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

} // namespace

char* MakeRatesFolder(const char* agentFolder) {
    ScopedMalloc<char> base(LocalAppDataFolder());
    if (!base.Held()) return agentFolder ? CopyText(agentFolder) : nullptr;
    size_t n = strlen(base.Get());
    while (n > 0 && (base.Get()[n - 1] == '\\' || base.Get()[n - 1] == '/'))
        base.Get()[--n] = '\0';
    if (n == 0) return nullptr;
    char* folder = static_cast<char*>(malloc(n + sizeof kOwnFolder));
    if (!folder) return nullptr;
    memcpy(folder, base.Get(), n);
    memcpy(folder + n, kOwnFolder, sizeof kOwnFolder);
    // Counted in the system's characters, not in the bytes that hold them.
    bool fits = ToPathUnits(folder, nullptr, 0) <= MAX_PATH;
    // One that is there already is fine, as long as it is a folder.
    if (!fits || (!MakeFolder(folder) && !IsFolder(folder))) {
        free(folder);
        return nullptr;
    }
    return folder;
}
