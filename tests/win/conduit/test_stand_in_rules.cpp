// The Palm stand-ins refuse what the real libraries would, so a conduit or agent that breaks a
// rule fails its HotSync or registration here too. Each rule is shown with one deliberate mistake,
// made straight against the stand-in DLL.
#include <gtest/gtest.h>

#include "palmsim/palmsim.h"
#include "tests/win/common/build_kind.h"
#include "tests/win/conduit/conduit_harness.h"

namespace {

typedef std::vector<std::string> Lines;
typedef long(WINAPI* RegisterFn)(DWORD*);
typedef long(WINAPI* ConnectionFn)(DWORD);
typedef long(WINAPI* FindFn)(BYTE*, BYTE*);
typedef long(WINAPI* OpenFn)(const char*, long, BYTE*, BYTE);
typedef long(WINAPI* BlockFn)(BYTE*);
typedef long(WINAPI* HandleFn)(BYTE);
typedef long(WINAPI* EndFn)();
typedef long(WINAPI* CreatorTextFn)(const char*, const char*);
typedef long(WINAPI* CreateEntryFn)(const char*, int);

template <class Fn> Fn Export(HMODULE module, const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}
template <class Fn> Fn Ordinal(HMODULE module, int ordinal) {
    return Export<Fn>(module, MAKEINTRESOURCEA(ordinal));
}

class SyncManagerRules : public ::testing::Test {
  protected:
    SyncManagerRules()
        : root("rules"), log(root.Path("sync.log")), handheldEnv("ZLV_HANDHELD_DIR", root.path),
          logEnv("ZLV_SYNC_LOG", log), failEnv("ZLV_SYNC_FAIL", ""), pauseEnv("ZLV_SYNC_PAUSE", ""),
          dll(LoadLibraryA((PalmFolder() + "\\sync20.dll").c_str())) {}
    ~SyncManagerRules() override {
        if (dll) FreeLibrary(dll);
    }
    void SetUp() override {
        ASSERT_NE(dll, nullptr);
        reg = Ordinal<RegisterFn>(dll, 22);
        unregister = Ordinal<ConnectionFn>(dll, 23);
        open = Ordinal<OpenFn>(dll, 26);
        create = Ordinal<BlockFn>(dll, 27);
        close = Ordinal<HandleFn>(dll, 28);
        write = Ordinal<BlockFn>(dll, 32);
        purge = Ordinal<HandleFn>(dll, 41);
        find = Export<FindFn>(dll, "SyncFindDbByTypeCreator");
        end = Export<EndFn>(dll, "PalmSimEndHotSync");
        ASSERT_TRUE(reg && unregister && open && create && close && write && purge && find && end);
        end(); // whatever an earlier user of this process's stand-in left
        // One database on the handheld, made by the rules.
        DWORD c = 0;
        ASSERT_EQ(reg(&c), 0);
        BYTE block[52] = {};
        memcpy(block + 10, "ZLV Currencies", 14);
        ASSERT_EQ(create(block), 0);
        ASSERT_EQ(close(block[0]), 0);
        ASSERT_EQ(unregister(c), 0);
        ASSERT_EQ(end(), 0);
        DeleteFileA(log.c_str());
    }
    // The call log's refusals.
    Lines Refusals() {
        Lines refused;
        for (const std::string& line : ReadLines(log))
            if (line.compare(0, 8, "refused ") == 0) refused.push_back(line);
        return refused;
    }

    TempFolder root;
    std::string log;
    ScopedEnv handheldEnv, logEnv, failEnv, pauseEnv;
    HMODULE dll;
    RegisterFn reg = nullptr;
    ConnectionFn unregister = nullptr;
    OpenFn open = nullptr;
    BlockFn create = nullptr, write = nullptr;
    HandleFn close = nullptr, purge = nullptr;
    FindFn find = nullptr;
    EndFn end = nullptr;
};

TEST_F(SyncManagerRules, NothingWithoutARegisteredConnection) {
    BYTE search[10] = {0x80, 0x80}, info[114] = {};
    EXPECT_NE(find(search, info), 0);
    DWORD c = 0;
    ASSERT_EQ(reg(&c), 0);
    ASSERT_EQ(unregister(c), 0);
    BYTE handle = 0;
    EXPECT_NE(open("ZLV Currencies", 0, &handle, 0x40), 0);
    EXPECT_EQ(Refusals(), (Lines{"refused find: no connection", "refused open: no connection"}));
    EXPECT_EQ(end(), 2);
}

TEST_F(SyncManagerRules, UnregisterOnlyTheConnectionGivenAndOnce) {
    DWORD c = 0;
    ASSERT_EQ(reg(&c), 0);
    EXPECT_NE(unregister(c + 1), 0);
    EXPECT_EQ(unregister(c), 0);
    EXPECT_NE(unregister(c), 0);
    EXPECT_EQ(Refusals(), (Lines{"refused unregister: not a registered connection",
                                 "refused unregister: not a registered connection"}));
    EXPECT_EQ(end(), 2);
}

TEST_F(SyncManagerRules, OneOpeningOfADatabaseAndWritesOnlyInWriteMode) {
    DWORD c = 0;
    ASSERT_EQ(reg(&c), 0);
    BYTE reading = 0, again = 0;
    ASSERT_EQ(open("ZLV Currencies", 0, &reading, 0x80), 0);
    EXPECT_NE(open("ZLV Currencies", 0, &again, 0x40), 0);
    EXPECT_NE(purge(reading), 0);
    BYTE record[ByBuild(28, 32)] = {reading};
    EXPECT_NE(write(record), 0);
    EXPECT_EQ(close(reading), 0);
    EXPECT_EQ(unregister(c), 0);
    EXPECT_EQ(Refusals(), (Lines{"refused open: database already open",
                                 "refused purge: handle opened without write mode",
                                 "refused write: handle opened without write mode"}));
    EXPECT_EQ(end(), 3);
}

TEST_F(SyncManagerRules, TheEndOfTheHotSyncFindsWhatWasLeft) {
    DWORD c = 0;
    ASSERT_EQ(reg(&c), 0);
    BYTE handle = 0;
    ASSERT_EQ(open("ZLV Currencies", 0, &handle, 0x40), 0);
    EXPECT_EQ(end(), 2);
    EXPECT_EQ(Refusals(),
              (Lines{"refused end: database 1 left open",
                     "refused end: connection " + std::to_string(c) + " never unregistered"}));
    EXPECT_EQ(end(), 0); // and a fresh start after it
}

TEST(ConduitManagerRules, NothingIsSetForACreatorWithoutAnEntry) {
    TempFolder root("cmrules");
    std::string log = root.Path("condmgr.log");
    ScopedEnv logEnv("ZLV_CONDMGR_LOG", log), failEnv("ZLV_CONDMGR_FAIL", "");
    HMODULE dll = LoadLibraryA((PalmFolder() + "\\condmgr.dll").c_str());
    ASSERT_NE(dll, nullptr);
    CreateEntryFn createEntry = Ordinal<CreateEntryFn>(dll, 67);
    CreatorTextFn setters[] = {Ordinal<CreatorTextFn>(dll, 46), Ordinal<CreatorTextFn>(dll, 48),
                               Ordinal<CreatorTextFn>(dll, 63)};
    ASSERT_TRUE(createEntry && setters[0] && setters[1] && setters[2]);
    RegDeleteKeyA(HKEY_CURRENT_USER, PALMSIM_CONDUITS_KEY "\\ZLVX");
    for (CreatorTextFn set : setters)
        EXPECT_NE(set("ZLVX", "C:\\x"), 0);
    EXPECT_EQ(createEntry("ZLVX", 0), 0);
    for (CreatorTextFn set : setters)
        EXPECT_EQ(set("ZLVX", "C:\\x"), 0);
    RegDeleteKeyA(HKEY_CURRENT_USER, PALMSIM_CONDUITS_KEY "\\ZLVX");
    FreeLibrary(dll);
    Lines lines = ReadLines(log);
    ASSERT_GE(lines.size(), 6u);
    EXPECT_EQ(
        Lines(lines.begin(), lines.begin() + 6),
        (Lines{"46 ZLVX C:\\x", "refused 46: no entry for ZLVX", "48 ZLVX C:\\x",
               "refused 48: no entry for ZLVX", "63 ZLVX C:\\x", "refused 63: no entry for ZLVX"}));
}

} // namespace
