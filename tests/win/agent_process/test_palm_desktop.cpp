// The agent and the user's Palm Desktop on a PC laid out as users have it: the product folder
// holds agent.exe and conduit.dll alone, Palm Desktop keeps its Conduit Manager in its own folder
// and names it in the user's registry ("Path", "HotSyncPath"), the agent starts from elsewhere.
#include <windows.h>

#include <string>

#include <gtest/gtest.h>

#include "palmsim/palmsim.h"
#include "tests/win/common/agent_runner.h"
#include "tests/win/common/file_helpers.h"
#include "tests/win/common/loopback_http.h"
#include "tests/win/common/palm_desktop.h"
#include "tests/win/common/registry_helpers.h"
#include "tests/win/common/wine_share.h"

namespace {

const DWORD kStepMs = 10000; // no step waits longer than this
const char kPage[] = "USD\tUS Dollar\t1.0000\nEUR\tEuro\t0.9215\n";
const char kReply[] = "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n"
                      "USD\tUS Dollar\t1.0000\nEUR\tEuro\t0.9215\n";

template <typename Done> bool WaitUntil(DWORD ms, Done done) {
    for (DWORD start = GetTickCount(); !done(); Sleep(25))
        if (GetTickCount() - start >= ms) return false;
    return true;
}

// The Conduit Manager stand-in's entry for "ZLVA": its folder, or "(none)" without an entry.
std::string RegisteredFolder() {
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, PALMSIM_CONDUITS_KEY "\\ZLVA", 0, KEY_READ, &key) !=
        ERROR_SUCCESS)
        return "(none)";
    char text[MAX_PATH + 1] = {};
    DWORD size = MAX_PATH;
    RegQueryValueExA(key, "Folder", nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size);
    RegCloseKey(key);
    return text;
}

void RemoveEntry() {
    RegDeleteKeyA(HKEY_CURRENT_USER, PALMSIM_CONDUITS_KEY "\\ZLVA");
}

std::string StoredTarget() {
    DWORD type = 0;
    Bytes data;
    if (!ReadSetting("target", &type, &data)) return std::string();
    return std::string(data.begin(), data.end()).c_str();
}

bool Copy(const std::string& from, const std::string& to) {
    return CopyFileA(from.c_str(), to.c_str(), FALSE) != 0;
}

class PalmDesktopLayout : public ::testing::Test {
  protected:
    PalmDesktopLayout() : root("palmlayout"), product(root.Path("Zelvantic")) {}

    void SetUp() override {
        EndStrayAgents();
        ASSERT_TRUE(FileExists(PalmFolder() + "\\condmgr.dll"))
            << "the session names no Palm Desktop with a Conduit Manager";
        ASSERT_TRUE(CreateDirectoryA(product.c_str(), nullptr));
        std::string built = FolderOf(BuiltAgentPath());
        for (const char* name : {"agent.exe", "conduit.dll"})
            ASSERT_TRUE(Copy(built + "\\" + name, product + "\\" + name)) << name;
        RemoveEntry();
        ASSERT_TRUE(SetFlagText("tooltip", "0"));
        ASSERT_TRUE(SetFlagText("startup", "0"));
        Today();
    }
    void TearDown() override {
        EndStrayAgents();
        RemoveEntry();
    }

    // Already updated today: the agent only starts, registers and waits.
    static void Today() { SetDword("lastupdate", static_cast<DWORD>(time(nullptr))); }

    // Starts the installed agent, lets its start-up finish, and ends it again.
    void StartAndEnd(const std::string& what) {
        AgentProcess run;
        ASSERT_TRUE(run.Start(product + "\\agent.exe")) << what;
        ASSERT_TRUE(run.WaitWindow(kStepMs) != nullptr) << what << ": no main window";
        EXPECT_TRUE(run.End()) << what;
    }

    // Starts the agent with nothing downloaded today and a server on loopback: it must download
    // whatever became of the conduit's registration.
    void StartAndDownload(const std::string& what) {
        LoopbackHttpServer server(kReply);
        ASSERT_TRUE(server.Listening()) << "port 80 is taken";
        DeleteSetting("lastupdate");
        AgentProcess run;
        ASSERT_TRUE(run.Start(product + "\\agent.exe")) << what;
        ASSERT_TRUE(run.WaitWindow(kStepMs) != nullptr) << what << ": no main window";
        DWORD stored = 0;
        EXPECT_TRUE(WaitUntil(kStepMs, [&] { return ReadDword("lastupdate", &stored); }))
            << what << ": no download";
        std::string rates = StoredTarget() + "\\mrvrates.zlv";
        Bytes bytes;
        EXPECT_TRUE(WaitUntil(kStepMs, [&] { return ReadBytes(rates, &bytes); })) << rates;
        // The header, the count "0002" and its zero, then the page's bytes.
        EXPECT_EQ(12 + 5 + strlen(kPage), bytes.size()) << what;
        EXPECT_EQ(1, server.Requests()) << what;
        EXPECT_TRUE(run.End()) << what;
        DeleteFileA(rates.c_str());
        Today();
    }

    TempFolder root;
    std::string product;
};

TEST_F(PalmDesktopLayout, TheFolderPalmDesktopNamesRegistersInEachForm) {
    // A Palm Desktop of its own whose folder name has spaces, besides the session's.
    std::string palm = root.Path("My Palm Desktop");
    ASSERT_TRUE(CreateDirectoryA(palm.c_str(), nullptr));
    for (const char* name : {"condmgr.dll", "sync20.dll", "hotsync.exe"})
        ASSERT_TRUE(Copy(PalmFolder() + "\\" + name, palm + "\\" + name)) << name;
    const std::string program = palm + "\\hotsync.exe", quoted = "\"" + palm + "\"",
                      slash = palm + "\\";
    const struct {
        const char* what;
        const char* path;
        const char* hotSyncPath;
    } forms[] = {
        {"Path", palm.c_str(), nullptr},
        {"Path with a final backslash", slash.c_str(), nullptr},
        {"Path in quotes", quoted.c_str(), nullptr},
        {"HotSyncPath alone", nullptr, program.c_str()},
        {"an empty Path and HotSyncPath", "", program.c_str()},
    };
    for (const auto& form : forms) {
        NamedPalmDesktop named(form.path, form.hotSyncPath);
        RemoveEntry();
        StartAndEnd(form.what);
        EXPECT_EQ(product, RegisteredFolder()) << form.what;
    }
}

// Without a Conduit Manager on a fixed drive: none at all, or one on a share, whose code is not
// the computer's to run.
TEST_F(PalmDesktopLayout, WithoutAConduitManagerNothingIsRegisteredAndTheAgentDownloads) {
    TempFolder empty("nocondmgr");
    const std::string program = empty.Path("HotSync.exe");
    WineShare share("zlvpalm", "palm");
    ASSERT_FALSE(share.folder.empty()) << "no Wine prefix to share a folder from";
    for (const char* name : {"condmgr.dll", "sync20.dll", "hotsync.exe"})
        ASSERT_TRUE(Copy(PalmFolder() + "\\" + name, share.folder + "\\" + name)) << name;
    ASSERT_TRUE(FileExists("\\\\zlvpalm\\palm\\condmgr.dll")) << "the share is not served";
    const struct {
        const char* what;
        const char* path;
        const char* hotSyncPath;
    } machines[] = {
        {"no Palm Desktop named", nullptr, nullptr},
        {"Path naming a folder without condmgr.dll", empty.path.c_str(), nullptr},
        {"HotSyncPath in a folder without condmgr.dll", nullptr, program.c_str()},
        {"a relative Path", "Palm", nullptr},
        {"Path naming a share", "\\\\zlvpalm\\palm", nullptr},
        {"Path naming a share with forward slashes", "//zlvpalm/palm/", nullptr},
        {"HotSyncPath on a share as a device name", nullptr,
         "\\\\?\\UNC\\zlvpalm\\palm\\hotsync.exe"},
    };
    for (const auto& machine : machines) {
        NamedPalmDesktop named(machine.path, machine.hotSyncPath);
        RemoveEntry();
        StartAndDownload(machine.what);
        EXPECT_EQ("(none)", RegisteredFolder()) << machine.what;
    }
}

// With Palm Desktop named, a planted Conduit Manager stays unloaded (hardening's planted-library
// test); without one, the agent must not go looking by bare name either.
TEST_F(PalmDesktopLayout, WithNoPalmDesktopAConduitManagerBesideTheAgentStaysUnloaded) {
    std::string marker = FolderOf(BuiltAgentPath()) + "\\tests\\plant_marker.dll";
    ASSERT_TRUE(FileExists(marker)) << "the marker library is not built";
    // The marker does leave its mark when something loads it.
    std::string check = root.Path("check.dll");
    ASSERT_TRUE(Copy(marker, check));
    HMODULE loaded = LoadLibraryA(check.c_str());
    ASSERT_TRUE(loaded);
    FreeLibrary(loaded);
    ASSERT_TRUE(FileExists(check + ".mark"));

    std::string planted = product + "\\condmgr.dll";
    ASSERT_TRUE(Copy(marker, planted));
    NamedPalmDesktop none(nullptr, nullptr);
    StartAndEnd("no Palm Desktop named");
    EXPECT_EQ("(none)", RegisteredFolder());
    EXPECT_FALSE(FileExists(planted + ".mark")) << "condmgr.dll beside agent.exe was loaded";
}

} // namespace
