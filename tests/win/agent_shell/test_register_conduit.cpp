// The agent's conduit registration against the Conduit Manager stand-in, whose call log shows
// exactly which calls were made.
#include <gtest/gtest.h>

#include "agent/shell/register_conduit.h"
#include "palmsim/palmsim.h"
#include "tests/win/common/file_helpers.h"
#include "tests/win/common/import_hook.h"
#include "tests/win/common/palm_desktop.h"

namespace {

typedef std::vector<std::string> Lines;

// As the Conduit Manager keeps it, read wide: a letter the agent could not give it shows.
std::string EntryValue(const char* name) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, PALMSIM_CONDUITS_KEY "\\ZLVA", 0, KEY_READ, &key) !=
        ERROR_SUCCESS)
        return "(no entry)";
    wchar_t text[1024] = {};
    DWORD size = sizeof(text) - sizeof(wchar_t), type = 0;
    LONG status = RegQueryValueExW(key, Wide(name).c_str(), nullptr, &type,
                                   reinterpret_cast<BYTE*>(text), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) return "(missing)";
    if (type == REG_DWORD) {
        DWORD value = 0;
        memcpy(&value, text, sizeof value);
        return std::to_string(value);
    }
    return Utf8(text);
}

// A volume that keeps no short names: the system gives the long name back.
typedef DWORD(WINAPI* ShortPathFn)(LPCWSTR, LPWSTR, DWORD);
DWORD WINAPI NoShortName(LPCWSTR path, LPWSTR out, DWORD size) {
    DWORD n = static_cast<DWORD>(wcslen(path));
    if (n >= size) return n + 1;
    wcscpy(out, path);
    return n;
}

class Registration : public ::testing::Test {
  protected:
    Registration()
        : root("register"), agent(root.Path("agent")), old(root.Path("old")),
          log(root.Path("condmgr.log")), logEnv("ZLV_CONDMGR_LOG", log),
          failEnv("ZLV_CONDMGR_FAIL", "") {}

    void SetUp() override {
        RegDeleteKeyA(HKEY_CURRENT_USER, PALMSIM_CONDUITS_KEY "\\ZLVA");
        CreateDirectoryA(agent.c_str(), nullptr);
        CreateDirectoryA(old.c_str(), nullptr);
    }
    void TearDown() override { RegDeleteKeyA(HKEY_CURRENT_USER, PALMSIM_CONDUITS_KEY "\\ZLVA"); }

    static void PutConduit(const std::string& folder) {
        ASSERT_TRUE(WriteBytes(folder + "\\conduit.dll", Bytes{'M', 'Z'}));
    }
    static std::string ShortName(const std::string& path) {
        wchar_t out[MAX_PATH] = {};
        GetShortPathNameW(Wide(path).c_str(), out, MAX_PATH);
        return Utf8(out);
    }
    // An existing entry, as an earlier installation left it.
    void RegisterAt(const std::string& folder) {
        RegDeleteKeyA(HKEY_CURRENT_USER, PALMSIM_CONDUITS_KEY "\\ZLVA");
        ASSERT_EQ(RegisterConduit(folder.c_str()), 0u);
        DeleteFileA(log.c_str());
    }

    TempFolder root;
    std::string agent, old, log;
    ScopedEnv logEnv, failEnv;
};

TEST_F(Registration, EntryInPlaceIsOnlyQueried) {
    PutConduit(old);
    RegisterAt(old);
    PutConduit(agent); // even though the agent now runs from elsewhere
    EXPECT_EQ(RegisterConduit(agent.c_str()), 1u);
    EXPECT_EQ(ReadLines(log), Lines{"49 ZLVA 126"});
    EXPECT_EQ(EntryValue("Folder"), old);
}

TEST_F(Registration, FirstInstallAndMovedInstallationAreRegisteredHere) {
    PutConduit(agent);
    EXPECT_EQ(RegisterConduit(agent.c_str()), 0u);
    EXPECT_EQ(ReadLines(log),
              (Lines{"49 ZLVA 126", "65 ZLVA", "67 ZLVA 0", "46 ZLVA " + agent + "\\conduit.dll",
                     "48 ZLVA " + agent, "63 ZLVA conduit.dll"}));

    // The old folder lost its conduit.dll: the entry is replaced by one for the agent folder.
    PutConduit(old);
    RegisterAt(old);
    DeleteFileA((old + "\\conduit.dll").c_str());
    EXPECT_EQ(RegisterConduit(agent.c_str()), 0u);
    EXPECT_EQ(ReadLines(log).size(), 6u);
    EXPECT_EQ(EntryValue("Folder"), agent);
    EXPECT_EQ(EntryValue("File"), "conduit.dll");
    EXPECT_EQ(EntryValue("Conduit"), agent + "\\conduit.dll");
    EXPECT_EQ(EntryValue("Type"), "0");
}

TEST_F(Registration, NoConduitBesideTheAgentRegistersNothing) {
    EXPECT_EQ(RegisterConduit(agent.c_str()), 1u);
    EXPECT_EQ(ReadLines(log), Lines{"49 ZLVA 126"});
    EXPECT_EQ(EntryValue("Folder"), "(no entry)");

    // A stale entry is left alone too when there is nothing better to offer.
    PutConduit(old);
    RegisterAt(old);
    DeleteFileA((old + "\\conduit.dll").c_str());
    EXPECT_EQ(RegisterConduit(agent.c_str()), 1u);
    EXPECT_EQ(EntryValue("Folder"), old);
}

TEST_F(Registration, FirstFailingCallStopsTheSequence) {
    PutConduit(agent);
    {
        ScopedEnv fail("ZLV_CONDMGR_FAIL", "67=-77");
        EXPECT_EQ(RegisterConduit(agent.c_str()), DWORD(-77));
        EXPECT_EQ(ReadLines(log), (Lines{"49 ZLVA 126", "65 ZLVA", "67 -> injected -77"}));
    }
    DeleteFileA(log.c_str());
    {
        ScopedEnv fail("ZLV_CONDMGR_FAIL", "48=5");
        EXPECT_EQ(RegisterConduit(agent.c_str()), 5u);
        Lines calls = ReadLines(log);
        ASSERT_EQ(calls.size(), 5u);
        EXPECT_EQ(calls[4], "48 -> injected 5");
        EXPECT_EQ(EntryValue("File"), "(missing)");
    }
    // A failing removal is not a reason to stop.
    RegDeleteKeyA(HKEY_CURRENT_USER, PALMSIM_CONDUITS_KEY "\\ZLVA");
    ScopedEnv fail("ZLV_CONDMGR_FAIL", "65=3");
    EXPECT_EQ(RegisterConduit(agent.c_str()), 0u);
    EXPECT_EQ(EntryValue("Folder"), agent);
}

TEST_F(Registration, LongAgentFolderGetsItsWholePath) {
    // Longer than the 256-byte work buffer leaves room for with the file name.
    std::string folder = root.path + "\\";
    folder += std::string(246 - folder.size(), 'd');
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr)) << GetLastError();
    PutConduit(folder);
    EXPECT_EQ(RegisterConduit(folder.c_str()), 0u);
    EXPECT_EQ(EntryValue("Conduit"), folder + "\\conduit.dll");
    EXPECT_EQ(EntryValue("Folder"), folder);
}

TEST_F(Registration, MachineWithoutConduitManagerIsLeftAlone) {
    TempFolder empty("nocondmgr");
    NamedPalmDesktop none(empty.path.c_str(), nullptr);
    PutConduit(agent);
    ASSERT_EQ(GetModuleHandleA("condmgr.dll"), nullptr);
    EXPECT_EQ(RegisterConduit(agent.c_str()), 1u);
    EXPECT_FALSE(FileExists(log));
    EXPECT_EQ(RegisterConduit(nullptr), 1u);
}

// The Conduit Manager takes ANSI text only: a folder named in the code page goes to it whole, one
// named outside it by its short name, and none with letters replaced.
TEST_F(Registration, AFolderOutsideTheCodePageGoesByItsShortName) {
    const std::string inCodePage = root.Path("Caf\xC3\xA9"), // "Café": in code page 1252
        outside = root.Path("\xD0\x9F\xD1\x80\xD0\xBE\xD0\xB3\xD1\x80\xD0\xB0\xD0\xBC\xD0\xBC\xD1"
                            "\x8B"); // "Программы"
    ASSERT_EQ(1252u, GetACP()) << "the test PC is an English-language one";
    for (const std::string& folder : {inCodePage, outside}) {
        ASSERT_TRUE(CreateDirectoryW(Wide(folder).c_str(), nullptr)) << folder;
        PutConduit(folder);
    }
    EXPECT_EQ(0u, RegisterConduit(inCodePage.c_str()));
    EXPECT_EQ(inCodePage, EntryValue("Folder"));
    EXPECT_EQ(inCodePage + "\\conduit.dll", EntryValue("Conduit"));

    const std::string shortName = ShortName(outside);
    ASSERT_EQ(std::string::npos, shortName.find('?')) << shortName;
    ASSERT_NE(outside, shortName) << "Wine gave this folder no short name";
    DeleteFileW(Wide(inCodePage + "\\conduit.dll").c_str());
    EXPECT_EQ(0u, RegisterConduit(outside.c_str()));
    EXPECT_EQ(shortName, EntryValue("Folder"));
    EXPECT_EQ(shortName + "\\conduit.dll", EntryValue("Conduit"));
    EXPECT_EQ(1u, RegisterConduit(outside.c_str())) << "the short name is found in place";

    // Without a short name there is nothing the Conduit Manager could be given: the entry it has
    // stays as it was, even one whose folder lost its conduit.
    PutConduit(inCodePage);
    RegisterAt(inCodePage);
    DeleteFileW(Wide(inCodePage + "\\conduit.dll").c_str());
    ImportHook noShortNames("kernel32.dll", "GetShortPathNameW",
                            reinterpret_cast<void*>(NoShortName));
    ASSERT_TRUE(noShortNames.Active());
    EXPECT_EQ(1u, RegisterConduit(outside.c_str()));
    EXPECT_EQ(ReadLines(log), Lines{"49 ZLVA 126"});
    EXPECT_EQ(inCodePage, EntryValue("Folder"));
}

} // namespace
