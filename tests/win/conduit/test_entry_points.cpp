// The information and configuration exports of conduit.dll, called the way a host calls them.
#include <gtest/gtest.h>

#include "conduit/conduit_api.h"
#include "tests/win/conduit/conduit_harness.h"

namespace {

template <class Fn> Fn Bind(HMODULE module, const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

class Exports : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        // The Sync Manager stand-in is found beside the conduit.
        module = LoadLibraryExA((BuildFolder() + "\\conduit.dll").c_str(), nullptr,
                                LOAD_WITH_ALTERED_SEARCH_PATH);
    }
    static void TearDownTestSuite() {
        if (module) FreeLibrary(module);
        module = nullptr;
    }
    void SetUp() override {
        ASSERT_NE(module, nullptr);
        getName = Bind<GetConduitNameFn>(module, "GetConduitName");
        getVersion = Bind<GetConduitVersionFn>(module, "GetConduitVersion");
        getInfo = Bind<GetConduitInfoFn>(module, "GetConduitInfo");
        configure = Bind<ConfigureConduitFn>(module, "ConfigureConduit");
        cfg = Bind<CfgConduitFn>(module, "CfgConduit");
        ASSERT_TRUE(getName && getVersion && getInfo && configure && cfg);
    }

    static HMODULE module;
    GetConduitNameFn getName;
    GetConduitVersionFn getVersion;
    GetConduitInfoFn getInfo;
    ConfigureConduitFn configure;
    CfgConduitFn cfg;
};
HMODULE Exports::module;

TEST_F(Exports, EveryEntryIsExportedByItsPlainName) {
    for (const char* name : {"OpenConduit", "GetConduitName", "GetConduitVersion", "GetConduitInfo",
                             "ConfigureConduit", "CfgConduit"})
        EXPECT_NE(GetProcAddress(module, name), nullptr) << name;
}

TEST_F(Exports, NameAndVersion) {
    EXPECT_EQ(getVersion(), 0x102u);
    char name[64];
    memset(name, 'x', sizeof(name));
    EXPECT_EQ(getName(name, sizeof(name)), 0);
    EXPECT_STREQ(name, "Zelvantic");
    char small[4];
    EXPECT_EQ(getName(small, sizeof(small)), 0); // cut to fit, still terminated
    EXPECT_STREQ(small, "Zel");
    EXPECT_EQ(getName(name, 0), -1);
    EXPECT_EQ(getName(nullptr, 64), -1);
}

TEST_F(Exports, VersionBlockNamesTheConduit) {
    std::string path = BuildFolder() + "\\conduit.dll";
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
    ASSERT_GT(size, 0u);
    std::vector<char> block(size);
    ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, size, block.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00020000u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00020000u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0u);
    const char* expected[][2] = {{"FileDescription", "Zelvantic Conduit"},
                                 {"InternalName", "Zelvantic Conduit"},
                                 {"OriginalFilename", "Conduit"},
                                 {"ProductName", "Conduit"},
                                 {"Comments", "Palm Conduit"}};
    for (const auto& e : expected) {
        char* text = nullptr;
        std::string key = std::string("\\StringFileInfo\\040904E4\\") + e[0];
        ASSERT_TRUE(
            VerQueryValueA(block.data(), key.c_str(), reinterpret_cast<void**>(&text), &length))
            << e[0];
        EXPECT_STREQ(text, e[1]);
    }
}

TEST_F(Exports, GetConduitInfoChecksInItsOrder) {
    NameRequest request = {1, 80, 0x5A4C5641, 7, "Palm User"};
    char out[256];
    DWORD size = sizeof(out);

    // The output pointer first, then the size pointer, then the type.
    EXPECT_EQ(getInfo(0, nullptr, nullptr, nullptr), kInfoNullOutput);
    EXPECT_EQ(getInfo(9, nullptr, nullptr, &size), kInfoNullOutput);
    EXPECT_EQ(getInfo(9, nullptr, out, nullptr), kInfoNullSize);
    EXPECT_EQ(getInfo(0, &request, out, nullptr), kInfoNullSize);
    EXPECT_EQ(getInfo(3, &request, out, &size), kInfoBadType);
    EXPECT_EQ(getInfo(-1, &request, out, &size), kInfoBadType);

    EXPECT_EQ(getInfo(0, nullptr, out, &size), kInfoNullRequest);
    request.version = 2;
    EXPECT_EQ(getInfo(0, &request, out, &size), kInfoBadRequest);
    request.version = 1;
    request.size = 79;
    EXPECT_EQ(getInfo(0, &request, out, &size), kInfoBadRequest);
    request.size = 80;
    DWORD none = 0;
    EXPECT_EQ(getInfo(0, &request, out, &none), kInfoNoName);
    memset(out, 'x', sizeof(out));
    EXPECT_EQ(getInfo(0, &request, out, &size), 0);
    EXPECT_STREQ(out, "Zelvantic");

    // Types 1 and 2 want exactly four bytes and write nothing otherwise.
    DWORD value[2] = {0xAAAAAAAA, 0xAAAAAAAA};
    DWORD eight = 8, four = 4;
    EXPECT_EQ(getInfo(1, nullptr, value, &eight), kInfoBadOutputSize);
    EXPECT_EQ(getInfo(2, nullptr, value, &eight), kInfoBadOutputSize);
    EXPECT_EQ(value[0], 0xAAAAAAAAu);
    EXPECT_EQ(value[1], 0xAAAAAAAAu);
    EXPECT_EQ(getInfo(1, nullptr, value, &four), 0);
    EXPECT_EQ(value[0], 0x10000000u);
    EXPECT_EQ(getInfo(2, nullptr, value, &four), 0);
    EXPECT_EQ(value[0], 0u);
    EXPECT_EQ(value[1], 0xAAAAAAAAu);
}

TEST_F(Exports, CfgConduitChecksItsArgumentsBeforeAnyDialog) {
    CurrentSettings settings = {};
    settings.version = 1;
    settings.size = sizeof(settings);
    DWORD size = sizeof(settings);

    // The block, its size pointer and its size come before the kind.
    EXPECT_EQ(cfg(1, nullptr, nullptr), kInfoNullRequest);
    EXPECT_EQ(cfg(1, &settings, nullptr), kCfgNullSize);
    DWORD wrong = 351;
    EXPECT_EQ(cfg(1, &settings, &wrong), kCfgBadSize);
    EXPECT_EQ(cfg(0, &settings, &wrong), kCfgBadSize);
    EXPECT_EQ(cfg(1, &settings, &size), kCfgBadKind);
    settings.version = 2;
    EXPECT_EQ(cfg(1, &settings, &size), kCfgBadKind);
    EXPECT_EQ(cfg(0, &settings, &size), kCfgBadVersion);
    settings.version = 0;
    EXPECT_EQ(cfg(0, &settings, &size), kCfgBadVersion);
}

TEST_F(Exports, ConfigureConduitWithoutARecordDoesNothing) {
    EXPECT_EQ(configure(nullptr), -1);
}

// Answers the next dialog that this thread shows, noting whether it has the current-settings
// area (only template 101 has one).
struct DialogAnswer {
    DWORD thread;
    WPARAM command;
    bool shown = false;
    bool currentArea = false;

    static BOOL CALLBACK Visit(HWND window, LPARAM self) {
        DialogAnswer* a = reinterpret_cast<DialogAnswer*>(self);
        char cls[16] = {};
        GetClassNameA(window, cls, sizeof(cls));
        if (strcmp(cls, "#32770") != 0 || !IsWindowVisible(window)) return TRUE;
        a->shown = true;
        a->currentArea = GetDlgItem(window, 1006) != nullptr;
        PostMessageA(window, WM_COMMAND, a->command, 0);
        return FALSE;
    }
    static DWORD WINAPI Run(void* self) {
        DialogAnswer* a = static_cast<DialogAnswer*>(self);
        for (int i = 0; i < 500 && !a->shown; ++i) {
            Sleep(10);
            EnumThreadWindows(a->thread, Visit, reinterpret_cast<LPARAM>(a));
        }
        return 0;
    }
    DialogAnswer(WPARAM answer) : thread(GetCurrentThreadId()), command(answer) {
        helper = CreateThread(nullptr, 0, Run, this, 0, nullptr);
    }
    ~DialogAnswer() {
        WaitForSingleObject(helper, 10000);
        CloseHandle(helper);
    }
    HANDLE helper;
};

TEST_F(Exports, ConfigurationShowsTheRightDialogAndHandsBackTheChoice) {
    if (!FindResourceA(module, MAKEINTRESOURCEA(101), MAKEINTRESOURCEA(5)))
        GTEST_SKIP() << "conduit.dll carries no settings dialog yet";

    CurrentSettings settings = {};
    settings.version = 1;
    settings.size = sizeof(settings);
    settings.creatorId = 0x5A4C5641;
    lstrcpyA(settings.userName, "Palm User");
    settings.nextSyncType = kSyncNothing;
    DWORD size = sizeof(settings);
    {
        DialogAnswer answer(IDOK);
        EXPECT_EQ(cfg(0, &settings, &size), 0);
        EXPECT_TRUE(answer.shown);
        EXPECT_TRUE(answer.currentArea);
    }
    EXPECT_EQ(settings.chosenSyncType, DWORD(kSyncNothing));
    EXPECT_EQ(settings.preferenceKind, DWORD(kPreferNextOnly));

    // The older entry: template 399, and the preference record changes only on OK.
    BYTE preference[600];
    memset(preference, 0xEE, sizeof(preference));
    DWORD nothing = kSyncNothing;
    memcpy(preference + kPreferenceSyncTypeOffset, &nothing, sizeof(nothing));
    BYTE before[sizeof(preference)];
    memcpy(before, preference, sizeof(preference));
    {
        DialogAnswer answer(IDCANCEL);
        EXPECT_EQ(configure(preference), -1);
        EXPECT_TRUE(answer.shown);
        EXPECT_FALSE(answer.currentArea);
    }
    EXPECT_EQ(memcmp(preference, before, sizeof(preference)), 0);
    {
        DialogAnswer answer(IDOK);
        EXPECT_EQ(configure(preference), 0);
    }
    DWORD kind, syncType;
    memcpy(&kind, preference + kPreferenceKindOffset, sizeof(kind));
    memcpy(&syncType, preference + kPreferenceSyncTypeOffset, sizeof(syncType));
    EXPECT_EQ(kind, DWORD(kPreferNextOnly));
    EXPECT_EQ(syncType, DWORD(kSyncNothing));
    EXPECT_EQ(memcmp(preference, before, kPreferenceKindOffset), 0);
    EXPECT_EQ(memcmp(preference + 524, before + 524, sizeof(preference) - 524), 0);
}

} // namespace
