#include <gtest/gtest.h>
#include <string.h>

#include "conduit/conduit_api.h"
#include "conduit/resources/dialog_ids.h"
#include "tests/win/common/file_helpers.h"
#include "tests/win/common/palm_desktop.h"
#include "tests/win/dialog/dialog_harness.h"

namespace {

// conduit.dll as the HotSync Manager binds it: by plain names, from the folder above the tests.
struct Conduit {
    std::string folder;
    HMODULE dll = nullptr;
    ConfigureConduitFn configure = nullptr;
    CfgConduitFn cfg = nullptr;
    Conduit() {
        folder = BuildFolder() + "\\";
        dll = LoadConduitAsHost(folder + "conduit.dll");
        if (!dll) return;
        configure = Bind<ConfigureConduitFn>("ConfigureConduit");
        cfg = Bind<CfgConduitFn>("CfgConduit");
    }
    template <typename Fn> Fn Bind(const char* name) {
        return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(dll, name)));
    }
    ~Conduit() {
        if (dll) FreeLibrary(dll);
    }
};

// A conduit.dll that is missing, does not load or lacks an entry fails the test.
#define REQUIRE_CONDUIT(c)                                                                         \
    ASSERT_TRUE((c).configure && (c).cfg) << "no conduit.dll with both entries in " << (c).folder

// The HotSync Manager's older preference record: only bytes 516 and 520 are the conduit's.
struct Preference {
    BYTE bytes[600];
    explicit Preference(DWORD syncType) {
        for (size_t i = 0; i < sizeof bytes; ++i)
            bytes[i] = static_cast<BYTE>(i * 7 + 1);
        memcpy(bytes + 520, &syncType, 4);
    }
    DWORD At(size_t offset) const {
        DWORD v;
        memcpy(&v, bytes + offset, 4);
        return v;
    }
};

TEST(ConduitConfigure, CancelReturnsMinusOneAndLeavesThePreference) {
    Conduit c;
    REQUIRE_CONDUIT(c);
    Preference p(2);
    const Preference before = p;
    INT_PTR result = DriveDialog([&] { return c.configure(p.bytes); },
                                 [](HWND d) {
                                     EXPECT_EQ(nullptr, GetDlgItem(d, IDC_CURRENT_GROUP))
                                         << "ConfigureConduit shows 399";
                                     EXPECT_TRUE(Checked(d, IDC_UPDATE));
                                     Click(d, IDC_NOTHING);
                                     Click(d, IDC_MAKE_DEFAULT);
                                     Command(d, IDCANCEL);
                                 });
    EXPECT_EQ(-1, result);
    EXPECT_EQ(0, memcmp(before.bytes, p.bytes, sizeof p.bytes));
}

TEST(ConduitConfigure, OkWritesKindAndSyncTypeOnly) {
    Conduit c;
    REQUIRE_CONDUIT(c);
    struct Case {
        DWORD syncType;
        int clicks[2];
        DWORD kind, chosen;
    } cases[] = {
        {2, {}, 2, 3},
        {6, {IDC_MAKE_DEFAULT}, 1, 6},
        {3, {IDC_NOTHING}, 2, 6},
        {0, {IDC_MAKE_DEFAULT, IDC_UPDATE}, 1, 3},
    };
    for (const Case& k : cases) {
        Preference p(k.syncType);
        Preference expected = p;
        memcpy(expected.bytes + 516, &k.kind, 4);
        memcpy(expected.bytes + 520, &k.chosen, 4);
        INT_PTR result = DriveDialog([&] { return c.configure(p.bytes); },
                                     [&](HWND d) {
                                         for (int id : k.clicks)
                                             if (id) Click(d, id);
                                         Command(d, IDOK);
                                     });
        EXPECT_EQ(0, result);
        EXPECT_EQ(k.kind, p.At(516)) << "sync type " << k.syncType;
        EXPECT_EQ(k.chosen, p.At(520)) << "sync type " << k.syncType;
        EXPECT_EQ(0, memcmp(expected.bytes, p.bytes, sizeof p.bytes)) << "other bytes changed";
    }
}

TEST(ConduitConfigure, CfgConduitShowsTheCurrentSettings) {
    Conduit c;
    REQUIRE_CONDUIT(c);
    SettingsRecord r;
    r.Set(kCreatorId, 0x5A4C5641);
    r.SetUserName("Kim", 3);
    r.Set(kDefaultType, 1);
    r.Set(kNextType, 2);
    DWORD size = sizeof r.bytes;
    INT_PTR result =
        DriveDialog([&] { return c.cfg(0, r.bytes, &size); },
                    [](HWND d) {
                        // Texts from conduit.dll's own table, which the resource test pins.
                        EXPECT_EQ("Kim's Current Settings:", ItemText(d, IDC_CURRENT_GROUP));
                        EXPECT_EQ("Synchronize the files.", ItemText(d, IDC_DEFAULT_STATUS));
                        Command(d, IDCANCEL);
                    });
    EXPECT_EQ(0, result);
    EXPECT_EQ(3u, r.Get(kNextType));
    EXPECT_EQ(kUntouched, r.Get(kChosenType));
    EXPECT_EQ(kUntouched, r.Get(kKind));

    result = DriveDialog([&] { return c.cfg(0, r.bytes, &size); },
                         [](HWND d) {
                             Click(d, IDC_MAKE_DEFAULT);
                             Command(d, IDOK);
                         });
    EXPECT_EQ(0, result);
    EXPECT_EQ(3u, r.Get(kChosenType));
    EXPECT_EQ(1u, r.Get(kKind));
}

} // namespace
