#include "conduit/rates_file.h"

#include "conduit/settings_key.h"

namespace {

const char kRatesFileName[] = "mrvrates.zlv";

bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

// A drive and a separator, or a UNC name. Anything else would resolve against the HotSync
// Manager's own current drive or folder, which is not where the agent writes.
bool IsAbsoluteFolder(const char* folder) {
    char letter = static_cast<char>(folder[0] | 0x20);
    bool drive = letter >= 'a' && letter <= 'z' && folder[1] == ':' && IsSeparator(folder[2]);
    bool unc = folder[0] == '\\' && folder[1] == '\\' && folder[2] != 0 && !IsSeparator(folder[2]);
    return drive || unc;
}

// NtSetInformationFile, on every Windows NT; the 9x family has no way to delete through a handle.
struct IoStatus {
    LONG_PTR status;
    ULONG_PTR information;
};
typedef LONG(WINAPI* SetInformationFileFn)(HANDLE, IoStatus*, void*, ULONG, int);
enum { kFileDispositionInformation = 13 };

SetInformationFileFn SetInformationFile() {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    if (!ntdll) return nullptr;
    return reinterpret_cast<SetInformationFileFn>(
        reinterpret_cast<void*>(GetProcAddress(ntdll, "NtSetInformationFile")));
}

HANDLE OpenShared(const char* path, DWORD access) {
    return CreateFileA(path, access, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
}

} // namespace

RatesPath BuildRatesPath(char (&path)[kRatesPathSize]) {
    FolderRead read = ReadAgentFolder(path, kRatesPathSize);
    if (read == kFolderTooLong) return kRatesPathTooLong;
    if (read != kFolderRead || !IsAbsoluteFolder(path)) return kRatesPathNoFolder;
    size_t length = lstrlenA(path);
    bool separator = path[length - 1] != '\\';
    if (length + separator + sizeof(kRatesFileName) > kRatesPathSize) return kRatesPathTooLong;
    if (separator) path[length++] = '\\';
    CopyMemory(path + length, kRatesFileName, sizeof(kRatesFileName));
    return kRatesPathReady;
}

RatesFile::RatesFile(const char* filePath) : deletable(true), path(filePath) {
    handle = OpenShared(path, GENERIC_READ | DELETE);
    if (handle == INVALID_HANDLE_VALUE) {
        // Readable without the right to delete: the copy can still run; the file then stays.
        deletable = false;
        handle = OpenShared(path, GENERIC_READ);
    }
}

RatesFile::~RatesFile() {
    Close();
}

void RatesFile::Close() {
    if (IsOpen()) CloseHandle(handle);
    handle = INVALID_HANDLE_VALUE;
}

void RatesFile::DeleteAndClose() {
    if (!IsOpen()) return;
    SetInformationFileFn setInformation = SetInformationFile();
    if (setInformation && deletable) {
        IoStatus status;
        BOOLEAN deleteFile = TRUE;
        setInformation(handle, &status, &deleteFile, sizeof(deleteFile),
                       kFileDispositionInformation);
    }
    Close();
    // Without NT's delete-through-handle the name is all there is.
    if (!setInformation) DeleteFileA(path);
}
