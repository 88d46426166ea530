#include "tests/win/common/resource_counts.h"

#include <tlhelp32.h>
#include <winternl.h>

DWORD HandleCount() {
    DWORD count = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &count) && count) return count;
    count = 0;
    for (ULONG_PTR h = 4; h < 0x10000; h += 4) {
        DWORD flags;
        if (GetHandleInformation(reinterpret_cast<HANDLE>(h), &flags)) ++count;
    }
    return count;
}

namespace {

// Wine publishes its GDI handle table in the process block: entries of 24 bytes, the object
// type at byte 14 and 0 for a free entry. nullptr when this is not that table.
const BYTE* WineGdiTable() {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    if (!GetProcAddress(ntdll, "wine_get_version")) return nullptr;
    typedef LONG(WINAPI * QueryFn)(HANDLE, PROCESSINFOCLASS, void*, ULONG, ULONG*);
    QueryFn query = reinterpret_cast<QueryFn>(
        reinterpret_cast<void*>(GetProcAddress(ntdll, "NtQueryInformationProcess")));
    PROCESS_BASIC_INFORMATION info = {};
    if (!query || query(GetCurrentProcess(), ProcessBasicInformation, &info, sizeof info, nullptr))
        return nullptr;
    const BYTE* table = *reinterpret_cast<const BYTE* const*>(
        reinterpret_cast<const BYTE*>(info.PebBaseAddress) + 0x94);
    if (!table) return nullptr;
    // A new bitmap must show up at its index with its uniqueness, or the layout is not known.
    HBITMAP probe = CreateBitmap(1, 1, 1, 1, nullptr);
    const DWORD h = static_cast<DWORD>(reinterpret_cast<UINT_PTR>(probe));
    const BYTE* entry = table + (h & 0xFFFF) * 24;
    const bool known =
        probe && *reinterpret_cast<const USHORT*>(entry + 12) == (h >> 16) && entry[14] != 0;
    DeleteObject(probe);
    return known ? table : nullptr;
}

} // namespace

DWORD GdiObjectCount() {
    DWORD count = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
    if (count) return count;
    if (const BYTE* table = WineGdiTable()) {
        for (DWORD i = 0; i < 0x10000; ++i)
            if (table[i * 24 + 14]) ++count;
        return count;
    }
    // Elsewhere the handles are table indices that a 16-bit value names as well.
    for (UINT_PTR i = 1; i < 0x10000; ++i)
        if (GetObjectType(reinterpret_cast<HGDIOBJ>(i))) ++count;
    return count;
}

int ThreadCount() {
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snap == INVALID_HANDLE_VALUE) return -1;
    THREADENTRY32 te;
    te.dwSize = sizeof te;
    int count = 0;
    DWORD self = GetCurrentProcessId();
    for (BOOL ok = Thread32First(snap, &te); ok; ok = Thread32Next(snap, &te))
        if (te.th32OwnerProcessID == self) ++count;
    CloseHandle(snap);
    return count;
}

SIZE_T PrivateKiB() {
    SIZE_T bytes = 0;
    MEMORY_BASIC_INFORMATION info;
    for (BYTE* p = nullptr; VirtualQuery(p, &info, sizeof info) == sizeof info;) {
        if (info.State == MEM_COMMIT && info.Type == MEM_PRIVATE) bytes += info.RegionSize;
        BYTE* next = static_cast<BYTE*>(info.BaseAddress) + info.RegionSize;
        if (next <= p) break;
        p = next;
    }
    return bytes / 1024;
}
