// The settings as the agent hands them to the registry: in the user's own key, with the
// installer's machine-wide defaults for the two flags read, never written; and two users' values
// apart, for the agent and for the conduit's own settings code, both run here.
#include "tests/win/agent_shell/shell_fixture.h"

#include <string.h>

#include "agent/shell/main_window.h"
#include "agent/shell/tray.h"
#include "conduit/settings_key.h"
#include "tests/win/common/import_hook.h"

namespace {

struct SettingWrite {
    std::string name;
    DWORD type;
    std::string data;
};

typedef LONG(WINAPI* SetValueFn)(HKEY, LPCSTR, DWORD, DWORD, const BYTE*, DWORD);
typedef LONG(WINAPI* SetValueWideFn)(HKEY, LPCWSTR, DWORD, DWORD, const BYTE*, DWORD);
std::vector<SettingWrite> g_writes;
SetValueFn g_realSetValue;
SetValueWideFn g_realSetValueWide;

LONG WINAPI RecordSetValue(HKEY key, LPCSTR name, DWORD reserved, DWORD type, const BYTE* data,
                           DWORD size) {
    g_writes.push_back(
        {name ? name : "", type, std::string(reinterpret_cast<const char*>(data), size)});
    return g_realSetValue(key, name, reserved, type, data, size);
}

LONG WINAPI RecordSetValueWide(HKEY key, LPCWSTR name, DWORD reserved, DWORD type, const BYTE* data,
                               DWORD size) {
    g_writes.push_back(
        {Utf8(name ? name : L""), type, std::string(reinterpret_cast<const char*>(data), size)});
    return g_realSetValueWide(key, name, reserved, type, data, size);
}

// The registry itself counts in a terminator that follows the data, so only the call shows the
// length the agent gave.
struct SetValueRecorder {
    SetValueRecorder()
        : ansi("advapi32.dll", "RegSetValueExA", reinterpret_cast<void*>(RecordSetValue)),
          wide("advapi32.dll", "RegSetValueExW", reinterpret_cast<void*>(RecordSetValueWide)) {
        g_realSetValue = ansi.Real<SetValueFn>();
        g_realSetValueWide = wide.Real<SetValueWideFn>();
        g_writes.clear();
    }
    bool Active() const { return ansi.Active() && wide.Active(); }
    ImportHook ansi, wide;
};

// Text as the wide calls store it: UTF-16, least significant byte first.
std::string Utf16Le(const std::wstring& text) {
    return std::string(reinterpret_cast<const char*>(text.data()), text.size() * 2);
}

std::string Le32(DWORD v) {
    return std::string(reinterpret_cast<const char*>(&v), 4);
}

std::string MachineTree() {
    return KeyTree(HKEY_LOCAL_MACHINE, "Software\\Morvane");
}

// Wine runs every program as one user. A second user is a hive of its own that this process
// sees as HKEY_CURRENT_USER while inside (RegOverridePredefKey): the agent and the conduit open
// their key through that name, as each would in another user's session.
class SecondUser {
  public:
    SecondUser() {
        DeleteKeyTree(HKEY_CURRENT_USER, kPath); // a leftover of an aborted run, if any
        RegCreateKeyExA(HKEY_CURRENT_USER, kPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &hive_,
                        nullptr);
    }
    ~SecondUser() {
        Leave();
        if (hive_) RegCloseKey(hive_);
        DeleteKeyTree(HKEY_CURRENT_USER, "Software\\ZlvTest");
    }
    bool Enter() { return hive_ && RegOverridePredefKey(HKEY_CURRENT_USER, hive_) == 0; }
    void Leave() { RegOverridePredefKey(HKEY_CURRENT_USER, nullptr); }

  private:
    static constexpr const char* kPath = "Software\\ZlvTest\\SecondUser";
    HKEY hive_ = nullptr;
};

std::string ConduitFolder() {
    wchar_t folder[128];
    return ReadAgentFolder(folder, 128) == kFolderRead ? Utf8(folder) : "<none>";
}

using SettingsStoreTest = ShellTest;

TEST_F(SettingsStoreTest, EachValueInItsStoredFormInTheUsersKey) {
    SavedSetting target("target"), hwnd("hwnd");
    MachineDefaults defaults("1", "1");
    const std::string machine = MachineTree();
    {
        SetValueRecorder recorder;
        ASSERT_TRUE(recorder.Active());
        WriteSettingFlag("startup", true);
        WriteSettingFlag("tooltip", false);
        StoreAgentFolder("C:\\Users\\kim\\AppData\\Local\\Zelvantic");
        StoreWindowHandle(window_);
        g_fakeNow = 1078617600; // 7 March 2004
        StoreLastUpdate();
    }
    const DWORD handle = static_cast<DWORD>(reinterpret_cast<UINT_PTR>(window_));
    const SettingWrite expected[] = {
        {"startup", REG_SZ, std::string("1\0\0\0", 4)},
        {"tooltip", REG_SZ, std::string("0\0\0\0", 4)},
        // Wide, without a terminator.
        {"target", REG_SZ, Utf16Le(L"C:\\Users\\kim\\AppData\\Local\\Zelvantic")},
        {"hwnd", REG_DWORD, Le32(handle)},
        {"lastupdate", REG_DWORD, Le32(1078617600)},
    };
    ASSERT_EQ(5u, g_writes.size());
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(expected[i].name, g_writes[i].name);
        EXPECT_EQ(expected[i].type, g_writes[i].type) << expected[i].name;
        EXPECT_EQ(expected[i].data, g_writes[i].data) << expected[i].name;
        DWORD type = 0;
        Bytes stored;
        ASSERT_TRUE(ReadSetting(expected[i].name.c_str(), &type, &stored, kUserKey))
            << expected[i].name << " is not in the user's key";
        EXPECT_EQ(expected[i].type, type) << expected[i].name;
    }
    // An ANSI reader, 1.5's conduit for one, gets the same text.
    DWORD type = 0;
    Bytes ansi;
    ASSERT_TRUE(ReadSetting("target", &type, &ansi));
    EXPECT_EQ(std::string("C:\\Users\\kim\\AppData\\Local\\Zelvantic"),
              std::string(ansi.begin(), ansi.end()).c_str());
    EXPECT_EQ(machine, MachineTree()) << "the machine's key was written";
}

// The installer's choices count for a user who has none of their own; once the user has a
// value, from the menu or the conduit's dialog, it wins, even against a default of "1".
TEST_F(SettingsStoreTest, FlagsFallBackToTheMachineDefaultsOnlyWithoutAValueOfTheUsers) {
    {
        MachineDefaults defaults("1", "0");
        EXPECT_TRUE(ReadSettingFlag("startup"));
        EXPECT_FALSE(ReadSettingFlag("tooltip"));
        InitMenuChecks();
        EXPECT_TRUE(Checked(40011)) << "\"Auto run on startup\"";
        EXPECT_FALSE(Checked(40008)) << "\"Show tray balloon tip\"";

        ASSERT_TRUE(SetFlagText("startup", "0"));
        ASSERT_TRUE(SetFlagText("tooltip", "2"));
        EXPECT_FALSE(ReadSettingFlag("startup"));
        EXPECT_TRUE(ReadSettingFlag("tooltip"));
        // A user's value that cannot be read as a flag is still the user's: off.
        ASSERT_TRUE(WriteSetting("startup", REG_SZ, "11111", 5));
        EXPECT_FALSE(ReadSettingFlag("startup"));
        DeleteSetting("startup");
        EXPECT_TRUE(ReadSettingFlag("startup"));
    }
    {
        MachineDefaults none(nullptr, nullptr, false);
        DeleteSetting("startup");
        EXPECT_FALSE(ReadSettingFlag("startup"));
        EXPECT_EQ("<absent>", KeyTree(HKEY_LOCAL_MACHINE, ZLV_KEY))
            << "reading a flag made the machine's key";
    }
}

TEST_F(SettingsStoreTest, TwoUsersValuesNeverMixForTheAgentOrTheConduit) {
    SavedSetting target("target"), hwnd("hwnd");
    MachineDefaults defaults("1", "1");
    const std::string machine = MachineTree();
    HWND second = CreateWindowExA(0, ZLV_MAIN_WINDOW_CLASS, "kelpo", WS_POPUP, 0, 0, 10, 10,
                                  nullptr, nullptr, g_agent.instance, nullptr);
    ASSERT_TRUE(second);
    const time_t today = g_fakeNow;

    // The first user: balloons turned off in the menu, an agent running, today's download done.
    WriteSettingFlag("tooltip", false);
    StoreWindowHandle(window_);
    StoreAgentFolder("C:\\Users\\ana\\AppData\\Local\\Zelvantic");
    StoreLastUpdate();

    SecondUser other;
    ASSERT_TRUE(other.Enter());
    // Nothing of the first user's reaches the second: the installer's defaults for the flags,
    // no download today, no agent window and no rates folder for a HotSync.
    EXPECT_TRUE(ReadSettingFlag("tooltip"));
    EXPECT_TRUE(ReadAgentFlag("tooltip"));
    EXPECT_TRUE(ReadSettingFlag("startup"));
    EXPECT_FALSE(IsUpdatedToday());
    EXPECT_EQ(nullptr, ReadAgentWindow());
    EXPECT_EQ("<none>", ConduitFolder());
    // The second user's own start, and a click in the conduit's dialog.
    StoreWindowHandle(second);
    // A profile named outside the code page: the conduit gets the folder back letter for letter.
    const std::string bo = "C:\\Users\\\xD0\x91\xD0\xBE\\AppData\\Local\\Zelvantic"; // "Бо"
    StoreAgentFolder(bo.c_str());
    WriteAgentFlag("startup", false);
    EXPECT_EQ(second, ReadAgentWindow());
    EXPECT_EQ(bo, ConduitFolder());
    EXPECT_FALSE(ReadSettingFlag("startup"));
    other.Leave();

    // The first user's values are as that user left them.
    EXPECT_EQ(window_, ReadAgentWindow());
    EXPECT_EQ("C:\\Users\\ana\\AppData\\Local\\Zelvantic", ConduitFolder());
    EXPECT_FALSE(ReadSettingFlag("tooltip"));
    EXPECT_FALSE(ReadAgentFlag("tooltip"));
    EXPECT_TRUE(ReadSettingFlag("startup")) << "the second user's choice reached the first";
    EXPECT_TRUE(ReadAgentFlag("startup"));
    EXPECT_EQ("", ReadRaw("startup"));
    g_fakeNow = today;
    EXPECT_TRUE(IsUpdatedToday());
    EXPECT_EQ(machine, MachineTree()) << "the machine's key was written";
    DestroyWindow(second);
}

} // namespace
