// Menu commands, check marks and the conduit's sync-result message.
#include "tests/win/agent_shell/shell_fixture.h"

#include <string.h>

#include "agent/path/path_calls.h"
#include "agent/shell/tray.h"
#include "agent/update/downloader.h"
#include "tests/win/common/import_hook.h"

namespace {

using CommandTest = ShellTest;

TEST_F(CommandTest, ChecksFollowTheSettingsAndTogglesWriteThem) {
    // A flag is read as at most four bytes of text, then as a number; five bytes cannot be read.
    struct {
        const char* data;
        DWORD size;
        bool on;
    } const kStored[] = {{" 1\0\0", 4, true}, {"2\0\0\0", 4, true},    {"0\0\0\0", 4, false},
                         {"", 0, false},      {"1\0\0\0\0", 5, false}, {"11111", 5, false}};
    for (const auto& stored : kStored) {
        ASSERT_TRUE(WriteSetting("startup", REG_SZ, stored.data, stored.size));
        InitMenuChecks();
        EXPECT_EQ(stored.on, Checked(40011)) << stored.size << " bytes: " << stored.data;
    }

    ASSERT_TRUE(SetFlagText("startup", "1"));
    ASSERT_TRUE(SetFlagText("tooltip", "abc"));
    InitMenuChecks();
    EXPECT_TRUE(Checked(40011));
    EXPECT_FALSE(Checked(40008));

    EXPECT_EQ(0, Command(40008));
    EXPECT_TRUE(Checked(40008));
    EXPECT_EQ(std::string("1\0\0\0", 4), ReadRaw("tooltip"));
    Command(40008);
    EXPECT_FALSE(Checked(40008));
    EXPECT_EQ(std::string("0\0\0\0", 4), ReadRaw("tooltip"));

    Command(40011);
    EXPECT_FALSE(Checked(40011));
    EXPECT_EQ(std::string("0\0\0\0", 4), ReadRaw("startup"));
    Command(40011);
    EXPECT_TRUE(Checked(40011));
    EXPECT_EQ(std::string("1\0\0\0", 4), ReadRaw("startup"));
    EXPECT_TRUE(TakeNotices().empty());
}

TEST_F(CommandTest, MissingDocumentsGiveWarningsWhateverTheTooltipSetting) {
    ASSERT_TRUE(SetFlagText("tooltip", "0"));
    const char cannotOpen[] =
        "Unable to open or explore '%s'.  \nPlease make sure that the target exists.";
    // The last warning runs past 300 characters: the shell's record holds the first 255.
    const std::string longFolder = "C:\\" + std::string(280, 'f');
    // The notice stays single-byte: letters outside the code page show as its "?".
    const std::string cyrillic = "C:\\\xD0\x97\xD0\xB5\xD0\xBB\xD0\xB2\xD0\xB0"; // "Зелва"
    struct Case {
        UINT id;
        const char* name;
        const std::string& folder;
        std::string shown;
    } cases[] = {{40005, "\\Readme.html", folder_, folder_},
                 {40004, "\\Zelvantic for Palm Product Manual.pdf", folder_, folder_},
                 {40003, "\\Palm", folder_, folder_},
                 {40005, "\\Readme.html", longFolder, longFolder},
                 {40003, "\\Palm", cyrillic, "C:\\?????"}};
    for (const Case& c : cases) {
        SetAgentFolder(c.folder);
        Command(c.id);
        std::vector<TrayCall> notices = TakeNotices();
        ASSERT_EQ(1u, notices.size()) << c.id;
        char expected[600];
        snprintf(expected, sizeof expected, cannotOpen, (c.shown + c.name).c_str());
        EXPECT_EQ(std::string(expected).substr(0, 255), notices[0].data.szInfo) << c.id;
        EXPECT_EQ(2u, notices[0].data.dwInfoFlags);
    }
}

struct ShellCall {
    HWND owner;
    std::string verb, file;
    bool parameters, directory;
    int show;
};
std::vector<ShellCall> g_shellCalls;

HINSTANCE WINAPI RecordShellExecute(HWND owner, LPCSTR verb, LPCSTR file, LPCSTR parameters,
                                    LPCSTR directory, INT show) {
    g_shellCalls.push_back({owner, verb ? verb : "(null)", file ? file : "(null)",
                            parameters != nullptr, directory != nullptr, show});
    return reinterpret_cast<HINSTANCE>(42); // opened
}

HINSTANCE WINAPI RecordShellExecuteWide(HWND owner, LPCWSTR verb, LPCWSTR file, LPCWSTR parameters,
                                        LPCWSTR directory, INT show) {
    g_shellCalls.push_back({owner, verb ? Utf8(verb) : "(null)", file ? Utf8(file) : "(null)",
                            parameters != nullptr, directory != nullptr, show});
    return reinterpret_cast<HINSTANCE>(42);
}

// The documents lie in the agent's folder, whose name need not be in the code page.
TEST_F(CommandTest, DocumentsAndTheSiteAreOpenedAsTheShellIsAsked) {
    g_shellCalls.clear();
    const std::string folder = folder_ + "\\\xD0\x97\xD0\xB5\xD0\xBB\xD0\xB2\xD0\xB0"; // "Зелва"
    SetAgentFolder(folder);
    {
        ImportHook shell("shell32.dll", "ShellExecuteA",
                         reinterpret_cast<void*>(RecordShellExecute));
        ShellExecuteWFn bound = g_shellExecuteW;
        g_shellExecuteW = RecordShellExecuteWide;
        ASSERT_TRUE(shell.Active());
        for (UINT id : {40003u, 40004u, 40005u, 40006u})
            Command(id);
        g_shellExecuteW = bound;
    }
    const char* website = getenv("ZLV_EXPECT_WEBSITE");
    ASSERT_TRUE(website) << "run the tests through ./zlv test";
    struct {
        HWND owner;
        std::string file;
        int show;
    } const expected[] = {
        {nullptr, folder + "\\Palm", SW_SHOWDEFAULT},
        {nullptr, folder + "\\Zelvantic for Palm Product Manual.pdf", SW_SHOWDEFAULT},
        {nullptr, folder + "\\Readme.html", SW_SHOWDEFAULT},
        {window_, website, SW_SHOWNORMAL}};
    ASSERT_EQ(4u, g_shellCalls.size());
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(expected[i].owner, g_shellCalls[i].owner) << i;
        EXPECT_EQ("open", g_shellCalls[i].verb) << i;
        EXPECT_EQ(expected[i].file, g_shellCalls[i].file) << i;
        EXPECT_FALSE(g_shellCalls[i].parameters) << i;
        EXPECT_FALSE(g_shellCalls[i].directory) << i;
        EXPECT_EQ(expected[i].show, g_shellCalls[i].show) << i;
    }
    EXPECT_TRUE(TakeNotices().empty()); // opened: nothing to warn of
}

// Points ".pdf" at a class without any verb for as long as it lives.
struct NoPdfReader {
    NoPdfReader() {
        RegCreateKeyExA(HKEY_CLASSES_ROOT, ".pdf", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                        nullptr);
        DWORD size = sizeof saved;
        had = RegQueryValueExA(key, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(saved),
                               &size) == ERROR_SUCCESS;
        RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>("zlvnoreader"), 12);
    }
    ~NoPdfReader() {
        if (had)
            RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<BYTE*>(saved),
                           static_cast<DWORD>(strlen(saved) + 1));
        else
            RegDeleteValueA(key, nullptr);
        RegCloseKey(key);
    }
    HKEY key = nullptr;
    char saved[128] = {0};
    bool had = false;
};

TEST_F(CommandTest, ManualPresentButNothingReadsPdf) {
    NoPdfReader noReader;
    std::string manual = folder_ + "\\Zelvantic for Palm Product Manual.pdf";
    WriteFileText(manual, "%PDF-1.4\n");
    Command(40004);
    std::vector<TrayCall> notices = TakeNotices();
    ASSERT_EQ(1u, notices.size());
    char expected[600];
    snprintf(expected, sizeof expected,
             "Unable to open '%s'.\nApplication acrobat reader must be installed in your system.",
             manual.c_str());
    EXPECT_STREQ(expected, notices[0].data.szInfo);
    EXPECT_EQ(2u, notices[0].data.dwInfoFlags);
}

TEST_F(CommandTest, SyncResultBecomesANoticeOnlyWithTooltipOn) {
    const char kSyncFailed[] = "An error occurred while updating the currency \ndatabase.  Please "
                               "check the hot sync log for \nmore details.";
    struct {
        const char* tooltip;
        WPARAM result;
        const char* notice; // none when null
        DWORD flags;
    } const kCases[] = {{"0", 2, nullptr, 0},     {"0", 3, nullptr, 0},
                        {"0", 7, nullptr, 0},     {"1", 2, kSyncSucceeded, 1},
                        {"1", 3, kSyncFailed, 3}, {"1", 7, nullptr, 0}};
    for (const auto& c : kCases) {
        ASSERT_TRUE(SetFlagText("tooltip", c.tooltip));
        EXPECT_EQ(0, SendMessageA(window_, g_agent.syncResultMessage, c.result, 0));
        std::vector<TrayCall> notices = TakeNotices();
        ASSERT_EQ(c.notice ? 1u : 0u, notices.size())
            << "tooltip " << c.tooltip << ", " << c.result;
        if (!c.notice) continue;
        EXPECT_STREQ(c.notice, notices[0].data.szInfo);
        EXPECT_EQ(c.flags, notices[0].data.dwInfoFlags);
    }
}

TEST_F(CommandTest, ExitDestroysTheWindowAndEndsTheLoop) {
    SetTrayFrame(0);
    Tick(); // an attempt is under way
    ASSERT_TRUE(g_agent.downloader);
    EXPECT_EQ(0, Command(40002));
    EXPECT_FALSE(IsWindow(window_));
    EXPECT_EQ(static_cast<DWORD>(NIM_DELETE), g_trayCalls.back().message);
    EXPECT_FALSE(g_agent.downloader->NotStopped());
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(0u, msg.wParam);
}

} // namespace
