#include "agent/shell/library_search.h"

namespace {

// From the headers of Windows 8; an older SDK lacks them.
const DWORD kSearchSystem32 = 0x00000800;   // LOAD_LIBRARY_SEARCH_SYSTEM32
const DWORD kSearchDllLoadDir = 0x00000100; // LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR

typedef BOOL(WINAPI* SetDefaultDllDirectoriesFn)(DWORD flags);
typedef BOOL(WINAPI* SetDllDirectoryFn)(LPCSTR folder);

// Bound at run time: kernel32 has each only from the Windows named above.
FARPROC Kernel32(const char* name) {
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    return kernel ? GetProcAddress(kernel, name) : nullptr;
}

} // namespace

void NarrowLibrarySearch() {
    SetDefaultDllDirectoriesFn setDefault = reinterpret_cast<SetDefaultDllDirectoriesFn>(
        reinterpret_cast<void*>(Kernel32("SetDefaultDllDirectories")));
    if (setDefault && setDefault(kSearchSystem32)) return;
    SetDllDirectoryFn setDirectory =
        reinterpret_cast<SetDllDirectoryFn>(reinterpret_cast<void*>(Kernel32("SetDllDirectoryA")));
    if (setDirectory) setDirectory("");
}

DWORD FullPathLoadFlags() {
    // The search flags came with SetDefaultDllDirectories; before it, the altered search path
    // is what puts the library's own folder first.
    return Kernel32("SetDefaultDllDirectories") ? kSearchDllLoadDir | kSearchSystem32
                                                : LOAD_WITH_ALTERED_SEARCH_PATH;
}
