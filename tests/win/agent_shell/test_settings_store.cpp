// The settings as the agent hands them to the registry.
#include "tests/win/agent_shell/shell_fixture.h"

#include <string.h>

#include "tests/win/common/import_hook.h"

namespace {

struct SettingWrite {
    std::string name;
    DWORD type;
    std::string data;
};

typedef LONG(WINAPI* SetValueFn)(HKEY, LPCSTR, DWORD, DWORD, const BYTE*, DWORD);
std::vector<SettingWrite> g_writes;
SetValueFn g_realSetValue;

LONG WINAPI RecordSetValue(HKEY key, LPCSTR name, DWORD reserved, DWORD type, const BYTE* data,
                           DWORD size) {
    g_writes.push_back(
        {name ? name : "", type, std::string(reinterpret_cast<const char*>(data), size)});
    return g_realSetValue(key, name, reserved, type, data, size);
}

// The registry itself counts in a terminator that follows the data, so only the call shows the
// length the agent gave.
struct SetValueRecorder : ImportHook {
    SetValueRecorder()
        : ImportHook("advapi32.dll", "RegSetValueExA", reinterpret_cast<void*>(RecordSetValue)) {
        g_realSetValue = Real<SetValueFn>();
        g_writes.clear();
    }
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
