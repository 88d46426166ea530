#include "tests/win/dialog/dialog_harness.h"

#include <gtest/gtest.h>
#include <string.h>

#include <memory>

#include "conduit/settings_dialog.h"
#include "tests/win/common/registry_helpers.h"

namespace {
// Wine waits up to 2 s for a window manager to withdraw each hidden window unless the program's
// windows are unmanaged; Xvfb runs no window manager, so ours are, and each dialog closes at once.
struct UnmanagedWindows {
    UnmanagedWindows() {
        HKEY key;
        if (RegCreateKeyExA(HKEY_CURRENT_USER,
                            "Software\\Wine\\AppDefaults\\dialog_tests.exe\\X11 Driver", 0, nullptr,
                            0, KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS)
            return;
        RegSetValueExA(key, "Managed", 0, REG_SZ, reinterpret_cast<const BYTE*>("N"), 2);
        RegCloseKey(key);
    }
} g_unmanaged;
} // namespace

SettingsRecord::SettingsRecord() {
    memset(bytes, 0, sizeof bytes);
    Set(0, 1);
    Set(4, sizeof bytes);
    Set(kChosenType, kUntouched);
    Set(kKind, kUntouched);
}

DWORD SettingsRecord::Get(size_t offset) const {
    DWORD v;
    memcpy(&v, bytes + offset, sizeof v);
    return v;
}

void SettingsRecord::Set(size_t offset, DWORD value) {
    memcpy(bytes + offset, &value, sizeof value);
}

void SettingsRecord::SetUserName(const char* name, size_t length) {
    memset(bytes + kUserName, 0, 64);
    memcpy(bytes + kUserName, name, length);
}

namespace {

const DialogScript* g_script = nullptr;
bool g_played = false;

BOOL CALLBACK FindDialog(HWND window, LPARAM found) {
    char cls[16];
    if (IsWindowVisible(window) && GetClassNameA(window, cls, sizeof cls) &&
        strcmp(cls, "#32770") == 0) {
        *reinterpret_cast<HWND*>(found) = window;
        return FALSE;
    }
    return TRUE;
}

void CALLBACK Tick(HWND, UINT, UINT_PTR timer, DWORD) {
    HWND dialog = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), FindDialog, reinterpret_cast<LPARAM>(&dialog));
    if (!dialog || g_played) return;
    KillTimer(nullptr, timer);
    g_played = true;
    (*g_script)(dialog);
    if (IsWindowVisible(dialog)) { // EndDialog hides it; never leave a test hanging
        ADD_FAILURE() << "the script left the dialog open";
        EndDialog(dialog, 99);
    }
}

} // namespace

INT_PTR DriveDialog(const std::function<INT_PTR()>& open, const DialogScript& script) {
    g_script = &script;
    g_played = false;
    UINT_PTR timer = SetTimer(nullptr, 0, 20, Tick);
    INT_PTR result = open();
    KillTimer(nullptr, timer);
    MSG m; // drop a tick that was already queued
    while (PeekMessageA(&m, nullptr, WM_TIMER, WM_TIMER, PM_REMOVE)) {
    }
    g_script = nullptr;
    EXPECT_TRUE(g_played) << "the dialog never appeared (result " << result << ")";
    return result;
}

INT_PTR RunSettingsDialog(int templateId, SettingsRecord* record, const DialogScript& script) {
    return DriveDialog(
        [&] {
            return DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(templateId), nullptr,
                                   SettingsDialogProc,
                                   reinterpret_cast<LPARAM>(record ? record->bytes : nullptr));
        },
        script);
}

void Click(HWND dialog, int id) {
    SendMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0);
}

void Command(HWND dialog, int id) {
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

bool Checked(HWND dialog, int id) {
    return IsDlgButtonChecked(dialog, id) == BST_CHECKED;
}

std::string ItemText(HWND dialog, int id) {
    char text[512] = "";
    GetDlgItemTextA(dialog, id, text, sizeof text);
    return text;
}

namespace {

// The dialog writes the agent's flags for real: put them back as this run found them.
class FlagsAsFound : public ::testing::Environment {
    std::unique_ptr<SavedSetting> startup_, tooltip_;

  public:
    void SetUp() override {
        startup_.reset(new SavedSetting("startup"));
        tooltip_.reset(new SavedSetting("tooltip"));
    }
    void TearDown() override {
        startup_.reset();
        tooltip_.reset();
    }
};
::testing::Environment* const g_flagsAsFound =
    ::testing::AddGlobalTestEnvironment(new FlagsAsFound);

} // namespace

std::string StoredFlag(const char* name) {
    DWORD type = 0;
    Bytes data;
    if (!ReadSetting(name, &type, &data)) return "<missing>";
    return (type == REG_SZ ? "" : "<type>") + std::string(data.begin(), data.end());
}
