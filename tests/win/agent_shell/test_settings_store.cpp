// The settings as the agent hands them to the registry.
#include "tests/win/agent_shell/shell_fixture.h"

#include <string.h>

namespace {

struct SettingWrite {
    std::string name;
    DWORD type;
    std::string data;
};

typedef LONG(WINAPI* SetValueFn)(HKEY, LPCSTR, DWORD, DWORD, const BYTE*, DWORD);
SetValueFn g_realSetValue;
std::vector<SettingWrite> g_writes;

LONG WINAPI RecordSetValue(HKEY key, LPCSTR name, DWORD reserved, DWORD type, const BYTE* data,
                           DWORD size) {
    g_writes.push_back(
        {name ? name : "", type, std::string(reinterpret_cast<const char*>(data), size)});
    return g_realSetValue(key, name, reserved, type, data, size);
}

// Points this program's import of RegSetValueExA at the recorder while it lives: the registry
// itself counts in a terminator that follows the data, so only the call shows the length given.
class SetValueRecorder {
  public:
    SetValueRecorder() {
        FARPROC real = GetProcAddress(GetModuleHandleA("advapi32.dll"), "RegSetValueExA");
        BYTE* base = reinterpret_cast<BYTE*>(GetModuleHandleA(nullptr));
        const IMAGE_NT_HEADERS* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(
            base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
        const IMAGE_DATA_DIRECTORY& dir =
            nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
        const IMAGE_IMPORT_DESCRIPTOR* d =
            reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress);
        for (; dir.VirtualAddress && d->Name && !slot_; ++d)
            for (IMAGE_THUNK_DATA* t = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->FirstThunk);
                 t->u1.Function; ++t)
                if (t->u1.Function == reinterpret_cast<ULONG_PTR>(real)) slot_ = &t->u1.Function;
        if (!slot_) return;
        g_realSetValue = reinterpret_cast<SetValueFn>(reinterpret_cast<void*>(real));
        Put(reinterpret_cast<ULONG_PTR>(RecordSetValue));
        g_writes.clear();
    }
    ~SetValueRecorder() {
        if (slot_) Put(reinterpret_cast<ULONG_PTR>(g_realSetValue));
    }
    bool Active() const { return slot_ != nullptr; }

  private:
    void Put(ULONG_PTR function) {
        DWORD old = 0;
        VirtualProtect(slot_, sizeof *slot_, PAGE_READWRITE, &old);
        *slot_ = function;
        VirtualProtect(slot_, sizeof *slot_, old, &old);
    }
    ULONG_PTR* slot_ = nullptr;
};

std::string Le32(DWORD v) {
    return std::string(reinterpret_cast<const char*>(&v), 4);
}

using SettingsStoreTest = ShellTest;

TEST_F(SettingsStoreTest, EachValueInItsStoredForm) {
    SavedSetting target("target"), hwnd("hwnd");
    {
        SetValueRecorder recorder;
        ASSERT_TRUE(recorder.Active());
        WriteSettingFlag("startup", true);
        WriteSettingFlag("tooltip", false);
        StoreAgentFolder("C:\\Program Files\\Zelvantic");
        StoreWindowHandle(window_);
        g_fakeNow = 1078617600; // 7 March 2004
        StoreLastUpdate();
    }
    const DWORD handle = static_cast<DWORD>(reinterpret_cast<UINT_PTR>(window_));
    const SettingWrite expected[] = {
        {"startup", REG_SZ, std::string("1\0\0\0", 4)},
        {"tooltip", REG_SZ, std::string("0\0\0\0", 4)},
        {"target", REG_SZ, "C:\\Program Files\\Zelvantic"}, // no terminator
        {"hwnd", REG_DWORD, Le32(handle)},
        {"lastupdate", REG_DWORD, Le32(1078617600)},
    };
    ASSERT_EQ(5u, g_writes.size());
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(expected[i].name, g_writes[i].name);
        EXPECT_EQ(expected[i].type, g_writes[i].type) << expected[i].name;
        EXPECT_EQ(expected[i].data, g_writes[i].data) << expected[i].name;
    }
}

} // namespace
