// The popup menu's check marks after the conduit's dialog has changed the two settings: the menu
// shows what the settings hold when it opens, and one click on an item turns its setting over.
#include "tests/win/agent_shell/shell_fixture.h"

#include <string.h>

#include "agent/shell/tray.h"

namespace {

const char kConduitEntry[] = "Software\\ZelvanticPalmSim\\ConduitManager\\ZLVA";

bool Checked(UINT id) {
    HMENU settings = GetSubMenu(g_agent.popupMenu, 3);
    return (GetMenuState(settings, id, MF_BYCOMMAND) & MF_CHECKED) != 0;
}

void SetEntry(const char* name, const std::string& text) {
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, kConduitEntry, 0, nullptr, 0,
                                             KEY_ALL_ACCESS, nullptr, &key, nullptr));
    RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                   static_cast<DWORD>(text.size() + 1));
    RegCloseKey(key);
}

// The HotSync Manager stand-in opens the conduit's dialog; these check boxes are clicked in it,
// and the dialog is cancelled: the boxes write their settings at the click.
void ClickInConduitDialog(std::initializer_list<int> boxes) {
    std::string build = BuildFolder();
    ASSERT_TRUE(FileExists(build + "\\hotsync.exe") && FileExists(build + "\\conduit.dll"));
    SetEntry("Folder", build);
    SetEntry("File", "conduit.dll");
    std::string line = "\"" + build + "\\hotsync.exe\" --configure";
    std::vector<char> mutableLine(line.begin(), line.end());
    mutableLine.push_back('\0');
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    ASSERT_TRUE(CreateProcessA(nullptr, mutableLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                               build.c_str(), &si, &pi));
    HWND dialog = nullptr;
    for (int i = 0; i < 500 && !dialog; ++i) {
        Sleep(20);
        HWND found = FindWindowA("#32770", "Zelvantic"); // captioned once it is up
        DWORD owner = 0;
        if (found) GetWindowThreadProcessId(found, &owner);
        if (owner == pi.dwProcessId) dialog = found;
    }
    EXPECT_TRUE(dialog) << "the conduit's dialog did not open";
    for (int box : boxes)
        if (dialog) SendMessageA(GetDlgItem(dialog, box), BM_CLICK, 0, 0);
    if (dialog) PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    bool ended = WaitForSingleObject(pi.hProcess, 10000) == WAIT_OBJECT_0;
    if (!ended) TerminateProcess(pi.hProcess, 1);
    EXPECT_TRUE(ended);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    RegDeleteKeyA(HKEY_CURRENT_USER, kConduitEntry);
}

// Waits for the open popup menu, notes the two marks it shows, then picks
// "&Settings" > "Show tray balloon tip" with the keyboard, as a user would.
struct MenuUser {
    bool opened = false, startupShown = false, tooltipShown = false;
    HANDLE thread = nullptr;
    static DWORD WINAPI Run(void* self) {
        MenuUser* user = static_cast<MenuUser*>(self);
        for (int i = 0; i < 250; ++i) {
            HWND menu = FindWindowA("#32768", nullptr);
            if (menu && IsWindowVisible(menu)) {
                user->opened = true;
                user->startupShown = Checked(40011);
                user->tooltipShown = Checked(40008);
                PostMessageA(menu, WM_CHAR, 's', 0);
                Sleep(100);
                PostMessageA(menu, WM_KEYDOWN, VK_DOWN, 0);
                Sleep(100);
                PostMessageA(menu, WM_KEYDOWN, VK_RETURN, 0);
                return 0;
            }
            Sleep(20);
        }
        return 0;
    }
};

using MenuMarks = ShellTest;

TEST_F(MenuMarks, MenuShowsWhatTheConduitWroteAndOneClickTurnsItOver) {
    ASSERT_TRUE(SetFlagText("startup", "0"));
    ASSERT_TRUE(SetFlagText("tooltip", "1"));
    InitMenuChecks(); // as at start-up
    ASSERT_FALSE(Checked(40011));
    ASSERT_TRUE(Checked(40008));

    // Box 412 "Auto run desktop agent when windows starts." and box 414 "Hide tray balloon tips."
    ClickInConduitDialog({412, 414});
    ASSERT_EQ(std::string("1\0\0\0", 4), ReadRaw("startup"));
    ASSERT_EQ(std::string("0\0\0\0", 4), ReadRaw("tooltip"));

    MenuUser user;
    user.thread = CreateThread(nullptr, 0, MenuUser::Run, &user, 0, nullptr);
    ASSERT_TRUE(user.thread);
    PostMessageA(window_, WM_USER, 0, WM_RBUTTONDOWN); // a click on the tray icon
    // The menu runs on this thread; the chosen item arrives as a command afterwards.
    bool done = false;
    for (int i = 0; i < 500 && !done; ++i) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        done = WaitForSingleObject(user.thread, 0) == WAIT_OBJECT_0 &&
               ReadRaw("tooltip") != std::string("0\0\0\0", 4);
        Sleep(10);
    }
    WaitForSingleObject(user.thread, 5000);
    CloseHandle(user.thread);

    ASSERT_TRUE(user.opened) << "the popup menu never opened";
    EXPECT_TRUE(user.startupShown);
    EXPECT_FALSE(user.tooltipShown);
    EXPECT_EQ(std::string("1\0\0\0", 4), ReadRaw("tooltip"));
    EXPECT_TRUE(Checked(40008));
    EXPECT_EQ(std::string("1\0\0\0", 4), ReadRaw("startup"));
}

} // namespace
