#include "conduit/rates_file.h"

#include "conduit/path_calls.h"
#include "conduit/settings_key.h"

namespace {

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

// A network drive would hand the user's credentials to its host; a missing or unknown drive
// holds nothing the agent wrote.
bool IsLocalDrive(const wchar_t* root) {
    switch (DriveType(root)) {
    case DRIVE_REMOTE:
    case DRIVE_NO_ROOT_DIR:
    case DRIVE_UNKNOWN:
        return false;
    }
    return true;
}

} // namespace

RatesPath BuildRatesPath(RatesLocation* location) {
    wchar_t folder[kRatesPathSize];
    ZeroMemory(location, sizeof *location);
    FolderRead read = ReadAgentFolder(folder, kRatesPathSize);
    if (read == kFolderTooLong) return kRatesPathTooLong;
    if (read != kFolderRead) return kRatesPathNoFolder;
    RatesPath composed = ComposeRatesPath(folder, location);
    if (composed == kRatesPathReady && !IsLocalDrive(location->root)) return kRatesPathNoFolder;
    return composed;
}

RatesFile::RatesFile(const wchar_t* filePath) : state(kRatesOpened), path(filePath) {
    handle = OpenPath(path, GENERIC_READ | DELETE, FILE_SHARE_READ, OPEN_EXISTING);
    if (handle != INVALID_HANDLE_VALUE) return;
    DWORD error = GetLastError();
    state = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? kRatesAbsent
                                                                           : kRatesOpenFailed;
}

RatesFile::~RatesFile() {
    Close();
}

void RatesFile::Close() {
    if (IsOpen()) CloseHandle(handle);
    handle = INVALID_HANDLE_VALUE;
}

bool RatesFile::DeleteAndClose() {
    if (!IsOpen()) return false;
    SetInformationFileFn setInformation = SetInformationFile();
    bool deleted = false;
    if (setInformation) {
        IoStatus status;
        BOOLEAN deleteFile = TRUE;
        // Negative NTSTATUS values are errors (a read-only file, for one).
        deleted = setInformation(handle, &status, &deleteFile, sizeof(deleteFile),
                                 kFileDispositionInformation) >= 0;
    }
    Close();
    // Without NT's delete-through-handle the name is all there is.
    if (!setInformation) deleted = DeletePath(path);
    return deleted;
}
