#include "tests/win/common/import_hook.h"

ImportHook::ImportHook(const char* dll, const char* function, const void* standIn) {
    real_ = reinterpret_cast<ULONG_PTR>(GetProcAddress(GetModuleHandleA(dll), function));
    BYTE* base = reinterpret_cast<BYTE*>(GetModuleHandleA(nullptr));
    const IMAGE_NT_HEADERS* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(
        base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (!real_ || !dir.VirtualAddress) return;
    const IMAGE_IMPORT_DESCRIPTOR* d =
        reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress);
    for (; d->Name && !slot_; ++d)
        for (IMAGE_THUNK_DATA* t = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->FirstThunk);
             t->u1.Function; ++t)
            if (t->u1.Function == real_) slot_ = &t->u1.Function;
    if (slot_) Put(reinterpret_cast<ULONG_PTR>(standIn));
}

ImportHook::~ImportHook() {
    if (slot_) Put(real_);
}

void ImportHook::Put(ULONG_PTR function) {
    DWORD old = 0;
    VirtualProtect(slot_, sizeof *slot_, PAGE_READWRITE, &old);
    *slot_ = function;
    VirtualProtect(slot_, sizeof *slot_, old, &old);
}
