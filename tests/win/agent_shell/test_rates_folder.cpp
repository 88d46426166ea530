// The rates folder start-up makes: the user's own where the system keeps one per user, the agent
// folder where it keeps none, never a file. And Windows 95, 98 and Me, which have the wide calls
// only as stubs that fail: the rates folder, "target" and the rates file through the ANSI calls.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <algorithm>
#include <iterator>

#include "agent/shell/rates_folder.h"
#include "agent/shell/settings.h"
#include "agent/update/rates_file.h"
#include "conduit/settings_key.h"
#include "tests/win/common/file_helpers.h"
#include "tests/win/common/import_hook.h"
#include "tests/win/common/registry_helpers.h"

using namespace std::string_literals;

namespace {

typedef FARPROC(WINAPI* GetProcAddressFn)(HMODULE, LPCSTR);
ImportHook* g_lookup;
const char* g_hidden; // the shell call that is not there

// A shell32 without a per-user folder call, as on Windows 95, or NT 4 without a newer shell.
FARPROC WINAPI WithoutGetFolderPath(HMODULE module, LPCSTR name) {
    if (HIWORD(reinterpret_cast<UINT_PTR>(name)) && lstrcmpA(name, g_hidden) == 0) return nullptr;
    return g_lookup->Real<GetProcAddressFn>()(module, name);
}

struct HiddenShellCall {
    explicit HiddenShellCall(const char* name)
        : hook("kernel32.dll", "GetProcAddress", reinterpret_cast<void*>(WithoutGetFolderPath)) {
        g_hidden = name;
        g_lookup = &hook;
    }
    ~HiddenShellCall() { g_lookup = nullptr; }
    ImportHook hook;
};

// What Windows 98 answers: GetVersion's top bit, and every wide call failing as not implemented.
DWORD WINAPI Windows98Version() {
    return 0xC0000A04;
}
template <typename R, R kFailed, typename... Args> R WINAPI NotImplemented(Args...) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return kFailed;
}
HANDLE WINAPI NoCreateFileW(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return INVALID_HANDLE_VALUE;
}

template <typename Fn> void* Stub(Fn fn) {
    return reinterpret_cast<void*>(fn);
}

struct Windows98 {
    bool Active() const {
        return std::all_of(std::begin(hooks), std::end(hooks),
                           [](const ImportHook& h) { return h.Active(); });
    }
    ImportHook hooks[9] = {
        {"kernel32.dll", "GetVersion", Stub(Windows98Version)},
        {"kernel32.dll", "CreateFileW", Stub(NoCreateFileW)},
        {"kernel32.dll", "CreateDirectoryW",
         Stub(NotImplemented<BOOL, FALSE, LPCWSTR, LPSECURITY_ATTRIBUTES>)},
        {"kernel32.dll", "GetFileAttributesW",
         Stub(NotImplemented<DWORD, INVALID_FILE_ATTRIBUTES, LPCWSTR>)},
        {"kernel32.dll", "MoveFileExW", Stub(NotImplemented<BOOL, FALSE, LPCWSTR, LPCWSTR, DWORD>)},
        {"kernel32.dll", "DeleteFileW", Stub(NotImplemented<BOOL, FALSE, LPCWSTR>)},
        {"kernel32.dll", "MoveFileExA", Stub(NotImplemented<BOOL, FALSE, LPCSTR, LPCSTR, DWORD>)},
        {"advapi32.dll", "RegSetValueExW",
         Stub(NotImplemented<LONG, ERROR_CALL_NOT_IMPLEMENTED, HKEY, LPCWSTR, DWORD, DWORD,
                             const BYTE*, DWORD>)},
        {"advapi32.dll", "RegQueryValueExW",
         Stub(NotImplemented<LONG, ERROR_CALL_NOT_IMPLEMENTED, HKEY, LPCWSTR, LPDWORD, LPDWORD,
                             LPBYTE, LPDWORD>)},
    };
};

std::string Made(const char* agentFolder) {
    char* folder = MakeRatesFolder(agentFolder);
    std::string text = folder ? folder : "<none>";
    free(folder);
    return text;
}

bool IsFolder(const std::string& path) {
    DWORD a = GetFileAttributesW(Wide(path).c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

} // namespace

TEST(RatesFolder, TheUsersOwnMadeWhenMissingAndTheAgentFolderWithoutOne) {
    const std::string own = UserRatesFolder();
    ASSERT_FALSE(own.empty());
    RemoveTree(own);
    EXPECT_EQ(own, Made("C:\\Program Files\\Zelvantic"));
    EXPECT_TRUE(IsFolder(own));
    EXPECT_EQ(own, Made("C:\\Program Files\\Zelvantic")) << "a folder that is there is fine";
    {
        HiddenShellCall shell("SHGetFolderPathW");
        ASSERT_TRUE(shell.hook.Active());
        EXPECT_EQ("C:\\Program Files\\Zelvantic", Made("C:\\Program Files\\Zelvantic"));
    }

    // A file where the folder belongs is not the agent's: no folder, and the file as it was.
    RemoveTree(own);
    const Bytes kept = {'m', 'i', 'n', 'e'};
    ASSERT_TRUE(WriteBytes(own, kept));
    EXPECT_EQ("<none>", Made("C:\\Program Files\\Zelvantic"));
    Bytes left;
    EXPECT_TRUE(ReadBytes(own, &left));
    EXPECT_EQ(kept, left);
    DeleteFileW(Wide(own).c_str());
}

TEST(RatesFolder, Windows9xKeepsTheAnsiCalls) {
    const std::string own = UserRatesFolder();
    ASSERT_FALSE(own.empty());
    RemoveTree(own);
    SavedSetting target("target");
    TempFolder agent("agent9x");
    std::string made, without;
    StoreFolderResult stored = kFolderKeyNotOpened;
    bool written = false, rewritten = false;
    FolderRead read = kFolderMissing;
    wchar_t conduitFolder[128] = {};
    {
        Windows98 system;
        ASSERT_TRUE(system.Active());
        made = Made(agent.path.c_str()); // Windows 98 and Me with a shell that has the call
        stored = StoreAgentFolder(made.c_str());
        written = WriteRatesFile(ByteString("X\tY\n"), made.c_str(), 1600000000);
        rewritten = WriteRatesFile(ByteString("A\tB\n"), made.c_str(), 1700000000); // over it
        read = ReadAgentFolder(conduitFolder, 128);
        HiddenShellCall shell("SHGetFolderPathA"); // Windows 95
        without = Made(agent.path.c_str());
    }
    EXPECT_EQ(own, made);
    EXPECT_EQ(agent.path, without);
    EXPECT_EQ(kFolderStored, stored);
    ASSERT_EQ(kFolderRead, read);
    EXPECT_EQ(own, Utf8(conduitFolder));
    EXPECT_TRUE(written && rewritten);
    Bytes file;
    EXPECT_TRUE(ReadBytes(own + "\\mrvrates.zlv", &file));
    EXPECT_EQ("kelpo\0\0\0\x00\xF1\x53\x65"
              "0001\0A B\0"s,
              std::string(file.begin(), file.end()));
    RemoveTree(own);
}
