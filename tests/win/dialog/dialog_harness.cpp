#include "tests/win/dialog/dialog_harness.h"

#include <gtest/gtest.h>
#include <string.h>

#include "conduit/settings_dialog.h"

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
const char kKey[] = "Software\\Morvane\\Zelvantic";

// The dialog writes the agent's flags for real: put them back as this run found them.
class FlagsAsFound : public ::testing::Environment {
    struct Saved {
        bool present = false;
        DWORD type = 0;
        std::string data;
    } saved_[2];
    bool keyExisted_ = false;
    static constexpr const char* kNames[2] = {"startup", "tooltip"};

  public:
    void SetUp() override {
        HKEY key;
        keyExisted_ = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_READ, &key) == ERROR_SUCCESS;
        if (!keyExisted_) return;
        for (int i = 0; i < 2; ++i) {
            char data[256];
            DWORD size = sizeof data;
            saved_[i].present =
                RegQueryValueExA(key, kNames[i], nullptr, &saved_[i].type,
                                 reinterpret_cast<BYTE*>(data), &size) == ERROR_SUCCESS;
            if (saved_[i].present) saved_[i].data.assign(data, size);
        }
        RegCloseKey(key);
    }
    void TearDown() override {
        for (int i = 0; i < 2; ++i) {
            if (saved_[i].present)
                StoreFlag(kNames[i], saved_[i].data.data(),
                          static_cast<DWORD>(saved_[i].data.size()), saved_[i].type);
            else
                DeleteFlag(kNames[i]);
        }
        if (!keyExisted_) RegDeleteKeyA(HKEY_LOCAL_MACHINE, kKey); // this run made it
    }
};
::testing::Environment* const g_flagsAsFound =
    ::testing::AddGlobalTestEnvironment(new FlagsAsFound);

} // namespace

std::string StoredFlag(const char* name) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return "<missing>";
    char data[64];
    DWORD size = sizeof data, type = 0;
    LONG rc = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS) return "<missing>";
    return (type == REG_SZ ? "" : "<type>") + std::string(data, size);
}

void StoreFlag(const char* name, const void* data, DWORD size, DWORD type) {
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0,
                                             KEY_ALL_ACCESS, nullptr, &key, nullptr));
    RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size);
    RegCloseKey(key);
}

void DeleteFlag(const char* name) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return;
    RegDeleteValueA(key, name);
    RegCloseKey(key);
}

std::string ProgramFolder() {
    char self[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, self, sizeof self);
    std::string path(self);
    return path.substr(0, path.rfind('\\') + 1);
}

namespace {

LRESULT CALLBACK HelpViewerProc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    HelpViewer* viewer = reinterpret_cast<HelpViewer*>(GetWindowLongPtrA(w, GWLP_USERDATA));
    if (m != WM_COPYDATA || !viewer) return DefWindowProcA(w, m, wp, lp);
    // Size, command, data, reserved, then the offset of the file name.
    const BYTE* p = static_cast<const BYTE*>(reinterpret_cast<const COPYDATASTRUCT*>(lp)->lpData);
    WORD ofsFile;
    memcpy(&viewer->command, p + 2, 2);
    memcpy(&viewer->data, p + 4, 4);
    memcpy(&ofsFile, p + 12, 2);
    viewer->file = ofsFile ? reinterpret_cast<const char*>(p + ofsFile) : "";
    ++viewer->requests;
    return TRUE;
}

} // namespace

HelpViewer::HelpViewer() {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = HelpViewerProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "MS_WINHELP";
    RegisterClassA(&wc);
    window =
        CreateWindowA("MS_WINHELP", "", 0, 0, 0, 0, 0, nullptr, nullptr, wc.hInstance, nullptr);
    if (window) SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

HelpViewer::~HelpViewer() {
    if (window) DestroyWindow(window);
}
