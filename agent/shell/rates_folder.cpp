#include "agent/shell/rates_folder.h"

#include <windows.h>

#include <stdlib.h>
#include <string.h>

namespace {

typedef HRESULT(WINAPI* GetFolderPathFn)(HWND owner, int folder, HANDLE token, DWORD flags,
                                         LPSTR path);

// CSIDL_LOCAL_APPDATA, with CSIDL_FLAG_CREATE so that a profile that lacks it gets it.
const int kLocalAppData = 0x001c | 0x8000;
const DWORD kCurrentPath = 0; // SHGFP_TYPE_CURRENT
const char kOwnFolder[] = "\\Zelvantic";

char* CopyText(const char* text) {
    size_t n = strlen(text) + 1;
    char* copy = static_cast<char*>(malloc(n));
    if (copy) memcpy(copy, text, n);
    return copy;
}

// Bound at run time: shell32 has it only from Windows 2000 (and 9x with a newer shell) on.
bool LocalAppDataFolder(char (&path)[MAX_PATH]) {
    HMODULE shell = GetModuleHandleA("shell32.dll");
    if (!shell) return false;
    GetFolderPathFn getFolderPath = reinterpret_cast<GetFolderPathFn>(
        reinterpret_cast<void*>(GetProcAddress(shell, "SHGetFolderPathA")));
    ZeroMemory(path, sizeof path);
    if (!getFolderPath ||
        FAILED(getFolderPath(nullptr, kLocalAppData, nullptr, kCurrentPath, path)))
        return false;
    path[MAX_PATH - 1] = '\0';
    return path[0] != '\0';
}

bool IsFolder(const char* path) {
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

} // namespace

char* MakeRatesFolder(const char* agentFolder) {
    char base[MAX_PATH];
    if (!LocalAppDataFolder(base)) return agentFolder ? CopyText(agentFolder) : nullptr;
    size_t n = strlen(base);
    while (n > 0 && (base[n - 1] == '\\' || base[n - 1] == '/'))
        base[--n] = '\0';
    if (n == 0 || n + sizeof kOwnFolder > MAX_PATH) return nullptr;
    char* folder = static_cast<char*>(malloc(n + sizeof kOwnFolder));
    if (!folder) return nullptr;
    memcpy(folder, base, n);
    memcpy(folder + n, kOwnFolder, sizeof kOwnFolder);
    // One that is there already is fine, as long as it is a folder.
    if (!CreateDirectoryA(folder, nullptr) && !IsFolder(folder)) {
        free(folder);
        return nullptr;
    }
    return folder;
}
