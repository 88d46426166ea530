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
    static void SetUpTestSuite() { module = LoadConduitAsHost(BuildFolder() + "\\conduit.dll"); }
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
    // The 80-byte name request: version, size, creator id, user id, then the user name.
    DWORD request[20] = {1, 80, 0x5A4C5641, 7};
    char out[256];
    DWORD size = sizeof(out);

    // The output pointer first, then the size pointer, then the type.
    EXPECT_EQ(getInfo(0, nullptr, nullptr, nullptr), 4209);
    EXPECT_EQ(getInfo(9, nullptr, nullptr, &size), 4209);
    EXPECT_EQ(getInfo(9, nullptr, out, nullptr), 4215);
    EXPECT_EQ(getInfo(0, request, out, nullptr), 4215);
    EXPECT_EQ(getInfo(3, request, out, &size), 4208);
    EXPECT_EQ(getInfo(-1, request, out, &size), 4208);

    EXPECT_EQ(getInfo(0, nullptr, out, &size), 4212);
    request[0] = 2;
    EXPECT_EQ(getInfo(0, request, out, &size), 4213);
    request[0] = 1;
    for (DWORD wrongSize : {79u, 81u}) {
        request[1] = wrongSize;
        EXPECT_EQ(getInfo(0, request, out, &size), 4213);
    }
    request[1] = 80;
    DWORD none = 0;
    EXPECT_EQ(getInfo(0, request, out, &none), 4214);
    memset(out, 'x', sizeof(out));
    EXPECT_EQ(getInfo(0, request, out, &size), 0);
    EXPECT_STREQ(out, "Zelvantic");

    // Types 1 and 2 want exactly four bytes and write nothing otherwise.
    DWORD value[2] = {0xAAAAAAAA, 0xAAAAAAAA};
    DWORD eight = 8, four = 4;
    EXPECT_EQ(getInfo(1, nullptr, value, &eight), 4211);
    EXPECT_EQ(getInfo(2, nullptr, value, &eight), 4211);
    EXPECT_EQ(value[0], 0xAAAAAAAAu);
    EXPECT_EQ(value[1], 0xAAAAAAAAu);
    EXPECT_EQ(getInfo(1, nullptr, value, &four), 0);
    EXPECT_EQ(value[0], 0x10000000u);
    EXPECT_EQ(getInfo(2, nullptr, value, &four), 0);
    EXPECT_EQ(value[0], 0u);
    EXPECT_EQ(value[1], 0xAAAAAAAAu);
}

TEST_F(Exports, CfgConduitChecksItsArgumentsBeforeAnyDialog) {
    // The 352-byte current settings record: version, then size.
    DWORD settings[88] = {1, 352};
    DWORD size = 352;

    // The block, its size pointer and its size come before the kind.
    EXPECT_EQ(cfg(1, nullptr, nullptr), 4212);
    EXPECT_EQ(cfg(1, settings, nullptr), 4216);
    for (DWORD wrong : {351u, 353u}) {
        EXPECT_EQ(cfg(1, settings, &wrong), 4218);
        EXPECT_EQ(cfg(0, settings, &wrong), 4218);
    }
    EXPECT_EQ(cfg(1, settings, &size), 4217);
    settings[0] = 2;
    EXPECT_EQ(cfg(1, settings, &size), 4217);
    EXPECT_EQ(cfg(0, settings, &size), 4219);
    settings[0] = 0;
    EXPECT_EQ(cfg(0, settings, &size), 4219);
}

TEST_F(Exports, ConfigureConduitWithoutARecordDoesNothing) {
    EXPECT_EQ(configure(nullptr), -1);
}

} // namespace
