#include "conduit/settings_dialog.h"

#include <stdio.h>
#include <string.h>

#include <shellapi.h>

#include "conduit/conduit_api.h"
#include "conduit/owners.h"
#include "conduit/path_calls.h"
#include "conduit/settings_key.h"
#include "conduit/resources/dialog_ids.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace {

const DWORD kHelpContext = 0x2018F;
const wchar_t kHelpFile[] = L"hotsync.hlp";
const DWORD kFirstWithoutWinHelp = 6;
const wchar_t kManualFile[] = L"Zelvantic for Palm Product Manual.pdf";
const wchar_t kManualPage[] = L"hotsync"; // the manual's named destination
const COLORREF kPictureBackground = RGB(0xC0, 0xC0, 0xC0);
const int kNameString = 1; // "Zelvantic", the window caption

struct Action {
    int button;
    int picture;
    int bitmap;
    int status;
};
// In bitmap order: RecolorActionBitmaps walks 103 to 106.
const Action kActions[] = {
    {IDC_SYNC, IDC_PICTURE_SYNC, IDB_ACTION_SYNC, IDS_STATUS_SYNC},
    {IDC_UPDATE, IDC_PICTURE_UPDATE, IDB_ACTION_UPDATE, IDS_STATUS_UPDATE},
    {IDC_OVERWRITE, IDC_PICTURE_OVERWRITE, IDB_ACTION_OVERWRITE, IDS_STATUS_OVERWRITE},
    {IDC_NOTHING, IDC_PICTURE_NOTHING, IDB_ACTION_NOTHING, IDS_STATUS_NOTHING},
};

const Action& ActionFor(DWORD syncType) {
    if (syncType == 0 || syncType == 1) return kActions[0];
    if (syncType == kSyncUpdate) return kActions[1];
    if (syncType == kSyncHandheldOverwrites) return kActions[2];
    return kActions[3];
}

// Only one configuration runs at a time, so the record and icons live here for the dialog.
CurrentSettings* g_record = nullptr;
HICON g_icon = nullptr;
HICON g_smallIcon = nullptr;

HINSTANCE Module() {
    return reinterpret_cast<HINSTANCE>(&__ImageBase);
}

bool IsChecked(HWND dialog, int id) {
    return IsDlgButtonChecked(dialog, id) == BST_CHECKED;
}

void SwapColor(RGBQUAD& c, COLORREF face) {
    if (RGB(c.rgbRed, c.rgbGreen, c.rgbBlue) != kPictureBackground) return;
    c.rgbRed = GetRValue(face);
    c.rgbGreen = GetGValue(face);
    c.rgbBlue = GetBValue(face);
}

struct PaletteInfo {
    BITMAPINFOHEADER header;
    RGBQUAD colors[256];
};

// The bitmap resource with its light-grey background in the button-face colour. The pictures
// are palettised, so only their colour table changes.
HBITMAP CreateRecoloredBitmap(int id, COLORREF face) {
    HRSRC found = FindResourceA(Module(), MAKEINTRESOURCEA(id), RT_BITMAP);
    if (!found) return nullptr;
    const DWORD size = SizeofResource(Module(), found);
    HGLOBAL loaded = LoadResource(Module(), found);
    const BYTE* data = loaded ? static_cast<const BYTE*>(LockResource(loaded)) : nullptr;
    if (!data || size < sizeof(BITMAPINFOHEADER)) return nullptr;

    PaletteInfo info;
    memset(&info, 0, sizeof info);
    memcpy(&info.header, data, sizeof info.header);
    BITMAPINFOHEADER& h = info.header;
    const DWORD headerSize = h.biSize;
    const LONG height = h.biHeight < 0 ? -h.biHeight : h.biHeight;
    const WORD bits = h.biBitCount;
    if (headerSize < sizeof h || headerSize > size || h.biPlanes != 1 ||
        h.biCompression != BI_RGB || h.biWidth <= 0 || h.biWidth > 4096 || height <= 0 ||
        height > 4096 || (bits != 1 && bits != 4 && bits != 8))
        return nullptr;
    const DWORD colors = h.biClrUsed ? h.biClrUsed : (1u << bits);
    if (colors > (1u << bits)) return nullptr;
    const DWORD stride = ((static_cast<DWORD>(h.biWidth) * bits + 31) / 32) * 4;
    const DWORD imageBytes = stride * static_cast<DWORD>(height);
    const DWORD tableBytes = colors * sizeof(RGBQUAD);
    if (size - headerSize < tableBytes || size - headerSize - tableBytes < imageBytes)
        return nullptr;

    h.biSize = sizeof h; // a larger header's extra fields are not needed to draw it
    memcpy(info.colors, data + headerSize, tableBytes);
    for (DWORD i = 0; i < colors; ++i)
        SwapColor(info.colors[i], face);

    ScreenDC screen(GetDC(nullptr));
    if (!screen.Get()) return nullptr;
    return CreateDIBitmap(screen.Get(), &h, CBM_INIT, data + headerSize + tableBytes,
                          reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS);
}

// Picture controls do not free their bitmaps; the dialog owns them, and gives each back as it
// hands the control another one (or none).
void SetPictureBitmap(HWND picture, HBITMAP bitmap) {
    HGDIOBJ old = reinterpret_cast<HGDIOBJ>(
        SendMessageA(picture, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(bitmap)));
    if (old && old != bitmap) DeleteObject(old);
}

void ReleaseActionBitmaps(HWND dialog) {
    for (const Action& a : kActions) {
        HWND picture = GetDlgItem(dialog, a.picture);
        if (picture) SetPictureBitmap(picture, nullptr);
    }
}

void ReleaseIcons(HWND dialog) {
    SendMessageA(dialog, WM_SETICON, ICON_BIG, 0);
    SendMessageA(dialog, WM_SETICON, ICON_SMALL, 0);
    if (g_icon) DestroyIcon(g_icon);
    if (g_smallIcon) DestroyIcon(g_smallIcon);
    g_icon = g_smallIcon = nullptr;
}

// A file's name beside a module, or false when the module's path is cut or has no folder.
bool BesideModule(HMODULE module, const wchar_t* name, wchar_t* path, size_t size) {
    if (!ModulePath(module, path, MAX_PATH)) return false;
    wchar_t* slash = wcsrchr(path, L'\\');
    if (!slash || static_cast<size_t>(slash + 1 - path) + wcslen(name) >= size) return false;
    wcscpy(slash + 1, name);
    return true;
}

bool IsFile(const wchar_t* path) {
    const DWORD attributes = PathAttributes(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Windows Vista and later have no viewer for WinHelp files.
bool WinHelpOpens() {
    OSVERSIONINFOA version;
    ZeroMemory(&version, sizeof version);
    version.dwOSVersionInfoSize = sizeof version;
    return GetVersionExA(&version) && version.dwMajorVersion < kFirstWithoutWinHelp;
}

bool OpenHelpFileBeside(HWND dialog, HMODULE module) {
    wchar_t path[MAX_PATH + 16];
    if (!BesideModule(module, kHelpFile, path, MAX_PATH + 16) || !IsFile(path)) return false;
    return OpenHelpFile(dialog, path, HELP_CONTEXT, kHelpContext) != FALSE;
}

bool IsAcrobat(const wchar_t* program) {
    const wchar_t* name = wcsrchr(program, L'\\');
    name = name ? name + 1 : program;
    return !lstrcmpiW(name, L"AcroRd32.exe") || !lstrcmpiW(name, L"Acrobat.exe");
}

bool Opened(HINSTANCE result) {
    return reinterpret_cast<INT_PTR>(result) > 32;
}

// The manual installed beside the conduit, never one from a folder the settings name: any user
// may change those. Acrobat is told to show the HotSync page, other readers open it at its start.
// Wide, so that a folder named outside the code page is found.
void OpenManual(HWND dialog) {
    wchar_t path[MAX_PATH]; // a path the shell can take
    if (!BesideModule(Module(), kManualFile, path, MAX_PATH) || !IsFile(path)) return;
    wchar_t reader[MAX_PATH] = L"";
    if (Opened(FindProgram(path, reader)) && IsAcrobat(reader)) {
        wchar_t arguments[MAX_PATH + 40];
        _snwprintf(arguments, MAX_PATH + 40, L"/A \"nameddest=%ls\" \"%ls\"", kManualPage, path);
        arguments[MAX_PATH + 40 - 1] = 0;
        if (Opened(OpenInShell(dialog, reader, arguments))) return;
    }
    OpenInShell(dialog, path, nullptr);
}

// The HotSync Manager keeps its help beside its own program, not beside the conduit.
void OpenHelp(HWND dialog) {
    if (WinHelpOpens() && (OpenHelpFileBeside(dialog, GetModuleHandleA(nullptr)) ||
                           OpenHelpFileBeside(dialog, Module())))
        return;
    OpenManual(dialog);
}

void LoadText(int id, char* out, int size) {
    if (LoadStringA(Module(), id, out, size) <= 0) out[0] = '\0';
}

void ShowCurrentSettings(HWND dialog, const CurrentSettings& record, const char* nextStatus) {
    SetDlgItemTextA(dialog, IDC_NEXT_STATUS, nextStatus);
    char text[256];
    LoadText(ActionFor(record.defaultSyncType).status, text, sizeof text);
    SetDlgItemTextA(dialog, IDC_DEFAULT_STATUS, text);

    // The caller's name need not be terminated within its 64 bytes.
    char name[sizeof record.userName + 1];
    memcpy(name, record.userName, sizeof record.userName);
    name[sizeof record.userName] = '\0';
    char format[64];
    LoadText(IDS_CURRENT_SETTINGS, format, sizeof format);
    if (!format[0]) return;
    _snprintf(text, sizeof text, format, name);
    text[sizeof text - 1] = '\0';
    SetDlgItemTextA(dialog, IDC_CURRENT_GROUP, text);
}

INT_PTR OnInitDialog(HWND dialog, CurrentSettings* record) {
    g_record = nullptr;
    ReleaseIcons(dialog);
    g_icon =
        static_cast<HICON>(LoadImageA(Module(), MAKEINTRESOURCEA(IDI_CONDUIT), IMAGE_ICON,
                                      GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), 0));
    g_smallIcon = static_cast<HICON>(LoadImageA(Module(), MAKEINTRESOURCEA(IDI_CONDUIT), IMAGE_ICON,
                                                GetSystemMetrics(SM_CXSMICON),
                                                GetSystemMetrics(SM_CYSMICON), 0));
    SendMessageA(dialog, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(g_icon));
    SendMessageA(dialog, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(g_smallIcon));
    if (!record) return TRUE;

    char text[256];
    LoadText(IDS_ACTION_GROUP, text, sizeof text);
    if (text[0]) SetDlgItemTextA(dialog, IDC_ACTION_GROUP, text);
    LoadText(kNameString, text, sizeof text);
    if (text[0]) SetWindowTextA(dialog, text);
    RecolorActionBitmaps(dialog);

    g_record = record;
    // Only updating the currencies and doing nothing are offered.
    if (record->nextSyncType != kSyncNothing) record->nextSyncType = kSyncUpdate;
    const Action& next = ActionFor(record->nextSyncType);
    CheckRadioButton(dialog, IDC_SYNC, IDC_NOTHING, next.button);
    char nextStatus[128];
    LoadText(next.status, nextStatus, sizeof nextStatus);

    CheckDlgButton(dialog, IDC_AUTO_RUN, ReadAgentFlag("startup") ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(dialog, IDC_HIDE_TIPS, ReadAgentFlag("tooltip") ? BST_UNCHECKED : BST_CHECKED);

    if (record->creatorId != 0) ShowCurrentSettings(dialog, *record, nextStatus);
    return TRUE;
}

void OnOk(HWND dialog) {
    if (g_record) { // without a record there is nowhere to put the choice
        DWORD chosen = kSyncNothing;
        if (IsChecked(dialog, IDC_SYNC))
            chosen = kSyncFiles;
        else if (IsChecked(dialog, IDC_UPDATE))
            chosen = kSyncUpdate;
        else if (IsChecked(dialog, IDC_OVERWRITE))
            chosen = kSyncHandheldOverwrites;
        g_record->chosenSyncType = chosen;
        g_record->preferenceKind =
            IsChecked(dialog, IDC_MAKE_DEFAULT) ? kPreferDefault : kPreferNextOnly;
    }
    EndDialog(dialog, 0);
}

INT_PTR OnCommand(HWND dialog, int id, int code) {
    switch (id) {
    case IDOK:
        OnOk(dialog);
        return TRUE;
    case IDCANCEL:
        EndDialog(dialog, 1);
        return TRUE;
    }
    if (code != BN_CLICKED) return FALSE;
    switch (id) {
    case IDC_SYNC:
    case IDC_UPDATE:
    case IDC_OVERWRITE:
    case IDC_NOTHING:
        CheckRadioButton(dialog, IDC_SYNC, IDC_NOTHING, id);
        return TRUE;
    case IDC_AUTO_RUN:
        WriteAgentFlag("startup", IsChecked(dialog, IDC_AUTO_RUN));
        return TRUE;
    case IDC_HIDE_TIPS:
        WriteAgentFlag("tooltip", !IsChecked(dialog, IDC_HIDE_TIPS));
        return TRUE;
    case IDC_HELP_BUTTON:
        OpenHelp(dialog);
        return TRUE;
    }
    return FALSE;
}

void OnDestroy(HWND dialog) {
    ReleaseActionBitmaps(dialog);
    ReleaseIcons(dialog);
    g_record = nullptr;
}

} // namespace

void RecolorActionBitmaps(HWND dialog) {
    const COLORREF face = GetSysColor(COLOR_BTNFACE);
    for (const Action& a : kActions) {
        HWND picture = GetDlgItem(dialog, a.picture);
        if (!picture) continue;
        HBITMAP fresh = CreateRecoloredBitmap(a.bitmap, face);
        if (fresh) SetPictureBitmap(picture, fresh); // else keep the picture rather than blank it
    }
}

INT_PTR CALLBACK SettingsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        return OnInitDialog(dialog, reinterpret_cast<CurrentSettings*>(lParam));
    case WM_COMMAND:
        return OnCommand(dialog, LOWORD(wParam), HIWORD(wParam));
    case WM_HELP:
        OpenHelp(dialog);
        return TRUE;
    case WM_SYSCOLORCHANGE:
        RecolorActionBitmaps(dialog);
        return TRUE;
    case WM_DESTROY:
        OnDestroy(dialog);
        return TRUE;
    }
    return FALSE;
}
