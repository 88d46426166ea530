// agent.exe as a process: the command-line gate, one instance, what it stores, how it ends, and
// its About box.
#include <windows.h>

#include <sddl.h> // after windows.h
#include <time.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/win/common/agent_runner.h"
#include "tests/win/common/file_helpers.h"
#include "tests/win/common/registry_helpers.h"

namespace {

// A file, not a folder (file_helpers.h's FileExists takes folders too).
bool IsFile(const std::string& path) {
    DWORD a = GetFileAttributesA(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool SetRawText(const char* name, const std::string& data) {
    return WriteSetting(name, REG_SZ, data.data(), static_cast<DWORD>(data.size()));
}

const DWORD kQuick = 5000; // no case waits longer than this for one step

class AgentProcessTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(IsFile(BuiltAgentPath())) << BuiltAgentPath();
        // Installed as the installer does it: agent.exe and conduit.dll in a folder of their own.
        char temp[MAX_PATH] = {};
        GetTempPathA(sizeof temp, temp);
        agent = CopyAgentTo(FolderOf(temp) + "\\zlv product");
        EndStrayAgents();
        rates = UserRatesFolder();
        ASSERT_FALSE(rates.empty());
        // Updated today: the agent makes no download. No balloons either.
        ASSERT_TRUE(SetDword("lastupdate", static_cast<DWORD>(time(nullptr))));
        ASSERT_TRUE(SetFlagText("tooltip", "0"));
        ASSERT_TRUE(SetFlagText("startup", "0"));
    }
    void TearDown() override {
        EndStrayAgents();
        for (auto it = copies.rbegin(); it != copies.rend(); ++it) {
            DeleteFileA((*it + "\\agent.exe").c_str());
            DeleteFileA((*it + "\\conduit.dll").c_str());
            if (it->size() > 3) RemoveDirectoryA(it->c_str());
        }
    }

    // An installation of the agent and its conduit in folder.
    std::string CopyAgentTo(const std::string& folder) {
        CreateDirectoryA(folder.c_str(), nullptr);
        copies.push_back(folder);
        std::string built = FolderOf(BuiltAgentPath());
        for (const char* name : {"agent.exe", "conduit.dll"})
            EXPECT_TRUE(
                CopyFileA((built + "\\" + name).c_str(), (folder + "\\" + name).c_str(), FALSE))
                << folder << "\\" << name;
        return folder + "\\agent.exe";
    }

    std::string Target() {
        Bytes data;
        DWORD type = 0;
        if (!ReadSetting("target", &type, &data)) return "<absent>";
        EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
        // The registry counts in a terminator that a writer left out when one follows the data
        // in memory, so one trailing zero says nothing about the writer.
        if (!data.empty() && data.back() == 0) data.pop_back();
        return std::string(data.begin(), data.end());
    }

    // Nothing left that keeps the next start from running.
    void ExpectTheNextStartRuns() {
        AgentProcess next;
        ASSERT_TRUE(next.Start(agent));
        EXPECT_TRUE(next.WaitWindow(kQuick) != nullptr);
        EXPECT_TRUE(next.End());
    }

    std::string agent, rates; // rates: the user's rates folder, which "target" names
    std::vector<std::string> copies;
};

DWORD HandleValue(HWND window) {
    return static_cast<DWORD>(reinterpret_cast<UINT_PTR>(window));
}

// The window exists a moment before the agent records it: polls "hwnd" until it names window.
bool HwndBecomes(HWND window, DWORD ms) {
    DWORD start = GetTickCount(), value = 0;
    for (;;) {
        if (ReadDword("hwnd", &value) && value == HandleValue(window)) return true;
        if (GetTickCount() - start >= ms) return false;
        Sleep(20);
    }
}

bool MutexExists() {
    HANDLE m = OpenMutexA(SYNCHRONIZE, FALSE, ZLV_AGENT_MUTEX);
    if (!m) return false;
    CloseHandle(m);
    return true;
}

// Locks the user's settings key against writing for as long as it lives, then puts its DACL back.
class LockedSettingsKey {
  public:
    LockedSettingsKey() {
        if (RegCreateKeyExA(HKEY_CURRENT_USER, ZLV_KEY, 0, nullptr, 0,
                            KEY_ALL_ACCESS | WRITE_DAC | READ_CONTROL, nullptr, &key_,
                            nullptr) != ERROR_SUCCESS)
            return;
        DWORD size = 0;
        RegGetKeySecurity(key_, DACL_SECURITY_INFORMATION, nullptr, &size);
        saved_.resize(size ? size : 1);
        if (RegGetKeySecurity(key_, DACL_SECURITY_INFORMATION, saved_.data(), &size) !=
            ERROR_SUCCESS)
            return;
        PSECURITY_DESCRIPTOR readOnly = nullptr;
        if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(
                "D:P(A;;KR;;;WD)", SDDL_REVISION_1, &readOnly, nullptr))
            return;
        locked_ = RegSetKeySecurity(key_, DACL_SECURITY_INFORMATION, readOnly) == ERROR_SUCCESS;
        LocalFree(readOnly);
    }
    ~LockedSettingsKey() {
        if (locked_) RegSetKeySecurity(key_, DACL_SECURITY_INFORMATION, saved_.data());
        if (key_) RegCloseKey(key_);
    }
    bool locked() const { return locked_; }

  private:
    HKEY key_ = nullptr;
    std::vector<BYTE> saved_;
    bool locked_ = false;
};

// Only "-silent" in any case, alone, is the log-on start that "startup" gates.
TEST_F(AgentProcessTest, SilentStartRunsOnlyWithStartupOn) {
    // The user's own "startup" decides; without one, the installer's machine-wide default does.
    const struct {
        const char* line;
        const char* startup; // absent when null, as on a fresh machine
        const char* machine; // the installer's default; absent when null
        bool runs;
    } starts[] = {{"-SILENT", "0", nullptr, false}, {"-Silent", "0", nullptr, false},
                  {"-silent", "0", nullptr, false}, {"-silent", nullptr, nullptr, false},
                  {"-SILENT", "1", nullptr, true},  {"-silent now", "0", nullptr, true},
                  {"/silent", "0", nullptr, true},  {"-silentx", "0", nullptr, true},
                  {"-silent", nullptr, "1", true},  {"-silent", "0", "1", false},
                  {"-silent", nullptr, "0", false}, {"-silent", "1", "0", true}};
    for (const auto& start : starts) {
        const std::string what = std::string(start.line) + ", startup " +
                                 (start.startup ? start.startup : "absent") + ", machine's " +
                                 (start.machine ? start.machine : "absent");
        MachineDefaults defaults(start.machine, nullptr, start.machine != nullptr);
        DeleteSetting("target");
        ASSERT_TRUE(SetDword("hwnd", 0x1234));
        if (start.startup)
            ASSERT_TRUE(SetFlagText("startup", start.startup));
        else
            DeleteSetting("startup");
        AgentProcess run;
        ASSERT_TRUE(run.Start(agent, start.line));
        if (start.runs) {
            ASSERT_TRUE(run.WaitWindow(kQuick) != nullptr) << what << ": no main window";
            EXPECT_TRUE(MutexExists()) << what;
            EXPECT_EQ(rates, Target()) << what;
            EXPECT_TRUE(run.End()) << what << ": did not end on the Exit command";
            continue;
        }
        DWORD code = 77;
        ASSERT_TRUE(run.WaitExit(kQuick, &code)) << what << " kept running";
        EXPECT_EQ(0u, code) << what;
        EXPECT_EQ(0, CountAgentWindows()) << what;
        EXPECT_EQ("<absent>", Target()) << what;
        DWORD hwnd = 0;
        EXPECT_TRUE(ReadDword("hwnd", &hwnd));
        EXPECT_EQ(0x1234u, hwnd) << what;
    }
    DeleteSetting("startup");
}

TEST_F(AgentProcessTest, SecondInstanceEndsAndAddsNoWindow) {
    AgentProcess first;
    ASSERT_TRUE(first.Start(agent));
    HWND window = first.WaitWindow(kQuick);
    ASSERT_TRUE(window != nullptr);

    // From another folder, as a second installation would be.
    char temp[MAX_PATH] = {};
    GetTempPathA(sizeof temp, temp);
    std::string other = CopyAgentTo(FolderOf(temp) + "\\zlv second agent");
    ASSERT_TRUE(HwndBecomes(window, kQuick));
    AgentProcess second;
    ASSERT_TRUE(second.Start(other));
    DWORD code = 77;
    ASSERT_TRUE(second.WaitExit(kQuick, &code)) << "the second instance kept running";
    EXPECT_EQ(0u, code);
    EXPECT_EQ(1, CountAgentWindows());
    EXPECT_EQ(rates, Target());
    EXPECT_TRUE(HwndBecomes(window, 0)) << "the second instance touched \"hwnd\"";
    EXPECT_FALSE(first.Exited());
}

// What an earlier run left is replaced: "target" names the user's own rates folder, made when
// missing, wherever the agent is installed (even at a drive's root), and "hwnd" the live window's
// handle as a 4-byte REG_DWORD.
TEST_F(AgentProcessTest, StoresTheUsersRatesFolderAndLiveWindowHandle) {
    const struct {
        const char* folder; // null: the fixture's installation
        bool ratesFolderThere;
    } places[] = {{nullptr, false}, {"C:\\Program Files\\Zelvantic Test", true}, {"C:", true}};
    for (const auto& place : places) {
        if (!place.ratesFolderThere) RemoveTree(rates);
        ASSERT_TRUE(SetRawText("target", "C:\\old\\place\\"));
        ASSERT_TRUE(SetRawText("hwnd", "not a handle")); // wrong type: replaced, not trusted
        const std::string exe = place.folder ? CopyAgentTo(place.folder) : agent;
        AgentProcess run;
        ASSERT_TRUE(run.Start(exe));
        HWND window = run.WaitWindow(kQuick);
        ASSERT_TRUE(window != nullptr) << exe;
        EXPECT_EQ(rates, Target()) << exe;
        DWORD attributes = GetFileAttributesA(rates.c_str());
        EXPECT_TRUE(attributes != INVALID_FILE_ATTRIBUTES &&
                    (attributes & FILE_ATTRIBUTE_DIRECTORY))
            << rates << " is not a folder";

        ASSERT_TRUE(HwndBecomes(window, kQuick)) << exe << ": \"hwnd\" is not the window";
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        EXPECT_EQ(run.Id(), owner);
        char title[32] = {};
        GetWindowTextA(window, title, sizeof title);
        EXPECT_STREQ("kelpo", title);
        EXPECT_FALSE(IsWindowVisible(window));
        char name[64] = {};
        GetClassNameA(window, name, sizeof name);
        EXPECT_STREQ("kelpoWindowClassv10->ovin ka spy!!!", name);
        EXPECT_EQ(static_cast<DWORD>(CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS),
                  GetClassLongA(window, GCL_STYLE));
        const LONG style = WS_POPUP | WS_CAPTION | WS_SYSMENU;
        EXPECT_EQ(style, GetWindowLongA(window, GWL_STYLE) & (style | WS_CHILD | WS_THICKFRAME));

        // The handle stays behind, stale, once the agent has gone.
        ASSERT_TRUE(run.End()) << exe;
        EXPECT_TRUE(HwndBecomes(window, 0));
        EXPECT_FALSE(IsWindow(window));
    }
}

// A file where the rates folder belongs is not the agent's to replace: the start ends with code
// 1, the file and the stored values as they were.
TEST_F(AgentProcessTest, AFileInPlaceOfTheRatesFolderEndsTheStartWithCodeOne) {
    RemoveTree(rates);
    RemoveDirectoryA(rates.c_str());
    const Bytes kept = {'n', 'o', 't', ' ', 'a', ' ', 'f', 'o', 'l', 'd', 'e', 'r'};
    ASSERT_TRUE(WriteBytes(rates, kept));
    ASSERT_TRUE(SetRawText("target", "C:\\before"));
    ASSERT_TRUE(SetDword("hwnd", 0x1234));
    AgentProcess run;
    ASSERT_TRUE(run.Start(agent));
    DWORD code = 77;
    ASSERT_TRUE(run.WaitExit(kQuick, &code)) << "ran on without its rates folder";
    Bytes left;
    bool read = ReadBytes(rates, &left);
    DeleteFileA(rates.c_str());
    EXPECT_EQ(1u, code);
    EXPECT_EQ(0, CountAgentWindows());
    EXPECT_TRUE(read);
    EXPECT_EQ(kept, left);
    EXPECT_EQ("C:\\before", Target());
    DWORD hwnd = 0;
    EXPECT_TRUE(ReadDword("hwnd", &hwnd));
    EXPECT_EQ(0x1234u, hwnd);
}

// The Exit command, and the WM_CLOSE that "End task" and taskkill send: the agent must really end,
// not linger windowless with its mutex held, which would make every later start end at once.
TEST_F(AgentProcessTest, ExitCommandAndCloseMessageEndWithCodeZeroAfterCleanUp) {
    const struct {
        UINT message;
        WPARAM wParam;
    } ends[] = {{WM_COMMAND, kExitCommand}, {WM_CLOSE, 0}};
    for (const auto& end : ends) {
        AgentProcess run;
        ASSERT_TRUE(run.Start(agent));
        HWND window = run.WaitWindow(kQuick);
        ASSERT_TRUE(window != nullptr);
        EXPECT_TRUE(MutexExists());

        // A command id the menu does not have, and a non-menu notification code, are not Exit.
        PostMessageA(window, WM_COMMAND, 40099, 0);
        PostMessageA(window, WM_COMMAND, MAKEWPARAM(kExitCommand, 1), 0);
        DWORD code = 77;
        EXPECT_FALSE(run.WaitExit(500, &code)) << "ended on a command that is not Exit";

        ASSERT_TRUE(PostMessageA(window, end.message, end.wParam, 0));
        ASSERT_TRUE(run.WaitExit(kQuick, &code)) << "still running after message " << end.message;
        EXPECT_EQ(0u, code) << end.message;
        EXPECT_FALSE(IsWindow(window)) << end.message;
        EXPECT_FALSE(MutexExists()) << end.message;
        ExpectTheNextStartRuns();
    }
}

TEST_F(AgentProcessTest, LockedSettingsKeyEndsWithCodeOne) {
    ASSERT_TRUE(SetRawText("target", "C:\\before"));
    ASSERT_TRUE(SetFlagText("startup", "1"));
    {
        LockedSettingsKey lock;
        ASSERT_TRUE(lock.locked());
        HKEY probe = nullptr;
        ASSERT_EQ(ERROR_ACCESS_DENIED, RegCreateKeyExA(HKEY_CURRENT_USER, ZLV_KEY, 0, nullptr, 0,
                                                       KEY_ALL_ACCESS, nullptr, &probe, nullptr))
            << "the lock did not take";

        AgentProcess run;
        ASSERT_TRUE(run.Start(agent));
        DWORD code = 77;
        ASSERT_TRUE(run.WaitExit(kQuick, &code)) << "kept running without its settings";
        EXPECT_EQ(1u, code);
        EXPECT_EQ(0, CountAgentWindows());

        // "startup" cannot be read either, so an automatic start stays quiet.
        AgentProcess silent;
        ASSERT_TRUE(silent.Start(agent, "-silent"));
        ASSERT_TRUE(silent.WaitExit(kQuick, &code));
        EXPECT_EQ(0u, code);
    }
    EXPECT_EQ("C:\\before", Target()) << "a refused start changed the stored folder";
}

const UINT kAboutCommand = 40001;

HWND FindAbout(DWORD process) {
    for (HWND w = FindWindowExA(nullptr, nullptr, "#32770", "Zelvantic"); w;
         w = FindWindowExA(nullptr, w, "#32770", "Zelvantic")) {
        DWORD owner = 0;
        GetWindowThreadProcessId(w, &owner);
        if (owner == process) return w;
    }
    return nullptr;
}

// Starts the quiet agent the fixture prepared and opens its About box.
void StartWithAbout(const std::string& exe, AgentProcess* agent, HWND* main, HWND* about) {
    ASSERT_TRUE(agent->Start(exe));
    *main = agent->WaitWindow(30000); // a first start in a fresh prefix is slow
    ASSERT_TRUE(*main);
    PostMessageA(*main, WM_COMMAND, kAboutCommand, 0);
    *about = nullptr;
    for (int i = 0; i < 200 && !(*about && IsWindowVisible(*about)); ++i) {
        Sleep(25);
        *about = FindAbout(agent->Id());
    }
    ASSERT_TRUE(*about && IsWindowVisible(*about));
}

TEST_F(AgentProcessTest, AboutBoxShowsItsLogoAndExitWithItOpenEndsCleanly) {
    AgentProcess run;
    HWND main = nullptr, about = nullptr;
    StartWithAbout(agent, &run, &main, &about);
    if (HasFatalFailure()) return;
    // The logo from the agent's own resources: a 48 x 48 child beside the text.
    int logos = 0;
    for (HWND c = GetWindow(about, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        RECT r;
        GetWindowRect(c, &r);
        if (r.right - r.left == 48 && r.bottom - r.top == 48) ++logos;
    }
    EXPECT_EQ(1, logos);
    Sleep(300); // the logo is playing on its own thread

    // The animation thread is joined and the box gone before the agent's own exit code comes.
    PostMessageA(main, WM_COMMAND, kExitCommand, 0);
    DWORD code = 1;
    ASSERT_TRUE(run.WaitExit(5000, &code));
    EXPECT_EQ(0u, code);
    EXPECT_FALSE(IsWindow(about));
    EXPECT_FALSE(IsWindow(main));
}

TEST_F(AgentProcessTest, EscapeClosesTheAboutBoxAndTheAgentRunsOn) {
    AgentProcess run;
    HWND main = nullptr, about = nullptr;
    StartWithAbout(agent, &run, &main, &about);
    if (HasFatalFailure()) return;

    // A key posted to the box travels the agent's own message loop, as a real key press does.
    PostMessageA(about, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
    for (int i = 0; i < 200 && IsWindow(about); ++i)
        Sleep(25);
    EXPECT_FALSE(IsWindow(about));
    EXPECT_TRUE(IsWindow(main));

    PostMessageA(main, WM_COMMAND, kExitCommand, 0);
    DWORD code = 1;
    ASSERT_TRUE(run.WaitExit(5000, &code));
    EXPECT_EQ(0u, code);
}

} // namespace
