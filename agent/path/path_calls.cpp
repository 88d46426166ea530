#include "agent/path/path_calls.h"

#include <shellapi.h>
#include <stdlib.h>
#include <string.h>

#include "agent/owners.h"
#include "agent/path/path_text.h"

ShellExecuteWFn g_shellExecuteW = nullptr;

namespace {

const DWORD kWindows9x = 0x80000000; // GetVersion's top bit
const DWORD kLongestPath = 32768;    // what the wide calls take at most
// CSIDL_LOCAL_APPDATA, with CSIDL_FLAG_CREATE so that a profile that lacks it gets it.
const int kLocalAppData = 0x001c | 0x8000;
const DWORD kCurrentPath = 0; // SHGFP_TYPE_CURRENT
// ShellExecute's results up to this one are errors.
const INT_PTR kShellExecuteLastError = 32;

typedef ScopedMalloc<wchar_t> Wide;
typedef ScopedMalloc<char> Text;

// Bound at run time: an import of it would keep the agent from loading at all on a Windows 9x
// whose shell32 does not carry the wide name.
ShellExecuteWFn BoundShellExecuteW() {
    if (!g_shellExecuteW) {
        HMODULE shell = GetModuleHandleA("shell32.dll");
        g_shellExecuteW = reinterpret_cast<ShellExecuteWFn>(
            reinterpret_cast<void*>(shell ? GetProcAddress(shell, "ShellExecuteW") : nullptr));
    }
    return g_shellExecuteW;
}

wchar_t* ToWide(const char* text) {
    size_t units = ToPathUnits(text, nullptr, 0);
    wchar_t* wide = units ? static_cast<wchar_t*>(malloc(units * sizeof(wchar_t))) : nullptr;
    if (wide) ToPathUnits(text, wide, units);
    return wide;
}

char* FromWide(const wchar_t* wide, size_t count) {
    size_t size = ToPathText(wide, count, nullptr, 0);
    char* text = static_cast<char*>(malloc(size));
    if (text) ToPathText(wide, count, text, size);
    return text;
}

char* WideToCodePage(const wchar_t* wide) {
    int size = WideCharToMultiByte(CP_ACP, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    char* text = size > 0 ? static_cast<char*>(malloc(size)) : nullptr;
    if (text && WideCharToMultiByte(CP_ACP, 0, wide, -1, text, size, nullptr, nullptr) != size) {
        free(text);
        text = nullptr;
    }
    return text;
}

wchar_t* CodePageToWide(const char* text) {
    int units = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    wchar_t* wide = units > 0 ? static_cast<wchar_t*>(malloc(units * sizeof(wchar_t))) : nullptr;
    if (wide && MultiByteToWideChar(CP_ACP, 0, text, -1, wide, units) != units) {
        free(wide);
        wide = nullptr;
    }
    return wide;
}

// The code page's text of a wide name, only when it reads back as the very same name.
char* SurvivingCodePage(const wchar_t* wide) {
    Text text(WideToCodePage(wide));
    if (!text.Held()) return nullptr;
    Wide back(CodePageToWide(text.Get()));
    return back.Held() && wcscmp(back.Get(), wide) == 0 ? text.Detach() : nullptr;
}

// Calls wide(units) on Windows NT and ansi(text) elsewhere, with the path converted for it.
template <typename R, typename W, typename A>
R WithPath(const char* path, R failed, W wide, A ansi) {
    Wide units(ToWide(path));
    if (!units.Held()) {
        SetLastError(ERROR_INVALID_NAME);
        return failed;
    }
    if (WideCalls()) return wide(units.Get());
    Text text(WideToCodePage(units.Get()));
    if (!text.Held()) {
        SetLastError(ERROR_INVALID_NAME);
        return failed;
    }
    return ansi(text.Get());
}

typedef HRESULT(WINAPI* GetFolderPathW)(HWND, int, HANDLE, DWORD, LPWSTR);
typedef HRESULT(WINAPI* GetFolderPathA)(HWND, int, HANDLE, DWORD, LPSTR);

template <typename Fn> Fn ShellCall(const char* name) {
    HMODULE shell = GetModuleHandleA("shell32.dll");
    return shell ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(shell, name)))
                 : nullptr;
}

} // namespace

bool WideCalls() {
    return (GetVersion() & kWindows9x) == 0;
}

char* ModulePath(HMODULE module) {
    if (!WideCalls()) {
        char text[MAX_PATH + 1] = {};
        DWORD n = GetModuleFileNameA(module, text, MAX_PATH);
        return n > 0 && n < MAX_PATH ? FromAnsiText(text) : nullptr;
    }
    // A cut name would name some other folder: the buffer grows until the name fits.
    for (DWORD size = MAX_PATH; size <= kLongestPath; size *= 2) {
        Wide wide(static_cast<wchar_t*>(calloc(size, sizeof(wchar_t))));
        if (!wide.Held()) return nullptr;
        DWORD n = GetModuleFileNameW(module, wide.Get(), size);
        if (n == 0) return nullptr;
        if (n < size) return FromWide(wide.Get(), n);
    }
    return nullptr;
}

char* LocalAppDataFolder() {
    if (WideCalls()) {
        GetFolderPathW get = ShellCall<GetFolderPathW>("SHGetFolderPathW");
        wchar_t wide[MAX_PATH + 1] = {};
        if (!get || FAILED(get(nullptr, kLocalAppData, nullptr, kCurrentPath, wide)))
            return nullptr;
        wide[MAX_PATH] = 0;
        return wide[0] ? FromWide(wide, wcslen(wide)) : nullptr;
    }
    GetFolderPathA get = ShellCall<GetFolderPathA>("SHGetFolderPathA");
    char text[MAX_PATH + 1] = {};
    if (!get || FAILED(get(nullptr, kLocalAppData, nullptr, kCurrentPath, text))) return nullptr;
    text[MAX_PATH] = '\0';
    return text[0] ? FromAnsiText(text) : nullptr;
}

char* FromAnsiText(const char* ansi) {
    if (!ansi) return nullptr;
    Wide wide(CodePageToWide(ansi));
    return wide.Held() ? FromWide(wide.Get(), wcslen(wide.Get())) : nullptr;
}

char* AnsiPath(const char* path) {
    Wide wide(ToWide(path));
    if (!wide.Held()) return nullptr;
    if (!WideCalls()) return WideToCodePage(wide.Get()); // it came from the code page
    if (char* text = SurvivingCodePage(wide.Get())) return text;
    wchar_t shortName[MAX_PATH + 1] = {};
    DWORD n = GetShortPathNameW(wide.Get(), shortName, MAX_PATH);
    return n > 0 && n < MAX_PATH ? SurvivingCodePage(shortName) : nullptr;
}

char* ShownText(const char* path) {
    Wide wide(ToWide(path));
    return wide.Held() ? WideToCodePage(wide.Get()) : nullptr;
}

HANDLE OpenPath(const char* path, DWORD access, DWORD share, DWORD disposition) {
    return WithPath(
        path, INVALID_HANDLE_VALUE,
        [=](const wchar_t* p) {
            return CreateFileW(p, access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL,
                               nullptr);
        },
        [=](const char* p) {
            return CreateFileA(p, access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL,
                               nullptr);
        });
}

bool MakeFolder(const char* path) {
    return WithPath(
        path, false, [](const wchar_t* p) { return CreateDirectoryW(p, nullptr) != FALSE; },
        [](const char* p) { return CreateDirectoryA(p, nullptr) != FALSE; });
}

DWORD PathAttributes(const char* path) {
    return WithPath(path, INVALID_FILE_ATTRIBUTES, GetFileAttributesW, GetFileAttributesA);
}

bool MovePathOver(const char* from, const char* to) {
    const DWORD flags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
    Wide source(ToWide(from)), target(ToWide(to));
    if (!source.Held() || !target.Held()) {
        SetLastError(ERROR_INVALID_NAME);
        return false;
    }
    if (WideCalls()) return MoveFileExW(source.Get(), target.Get(), flags) != FALSE;
    Text ansiSource(WideToCodePage(source.Get())), ansiTarget(WideToCodePage(target.Get()));
    if (!ansiSource.Held() || !ansiTarget.Held()) return false;
    if (MoveFileExA(ansiSource.Get(), ansiTarget.Get(), flags)) return true;
    // Windows 95, 98 and Me have no MoveFileEx: the old file makes way, then the new one takes
    // its name. A file held open (by the conduit) refuses to go, and the move is tried later.
    if (GetLastError() != ERROR_CALL_NOT_IMPLEMENTED) return false;
    if (!DeleteFileA(ansiTarget.Get()) && GetLastError() != ERROR_FILE_NOT_FOUND) return false;
    return MoveFileA(ansiSource.Get(), ansiTarget.Get()) != FALSE;
}

bool DeletePath(const char* path) {
    return WithPath(
        path, false, [](const wchar_t* p) { return DeleteFileW(p) != FALSE; },
        [](const char* p) { return DeleteFileA(p) != FALSE; });
}

bool OpenInShell(const char* path, int show) {
    HINSTANCE result = WithPath(
        path, static_cast<HINSTANCE>(nullptr),
        [=](const wchar_t* p) {
            ShellExecuteWFn execute = BoundShellExecuteW();
            return execute ? execute(nullptr, L"open", p, nullptr, nullptr, show) : nullptr;
        },
        [=](const char* p) { return ShellExecuteA(nullptr, "open", p, nullptr, nullptr, show); });
    return reinterpret_cast<INT_PTR>(result) > kShellExecuteLastError;
}

HMODULE LoadLibraryByPath(const char* path) {
    return WithPath(
        path, static_cast<HMODULE>(nullptr),
        [](const wchar_t* p) { return LoadLibraryExW(p, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH); },
        [](const char* p) { return LoadLibraryExA(p, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH); });
}

LONG SetTextValue(HKEY key, const char* name, const char* text) {
    Wide wideName(ToWide(name)), wideText(ToWide(text));
    if (!wideName.Held() || !wideText.Held()) return ERROR_INVALID_PARAMETER;
    if (WideCalls())
        return RegSetValueExW(key, wideName.Get(), 0, REG_SZ,
                              reinterpret_cast<const BYTE*>(wideText.Get()),
                              static_cast<DWORD>(wcslen(wideText.Get()) * sizeof(wchar_t)));
    Text ansi(WideToCodePage(wideText.Get()));
    if (!ansi.Held()) return ERROR_INVALID_PARAMETER;
    return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(ansi.Get()),
                          static_cast<DWORD>(strlen(ansi.Get())));
}

char* QueryPathValue(HKEY key, const char* name) {
    if (!WideCalls()) {
        char raw[MAX_PATH + 1] = {}, expanded[MAX_PATH + 1] = {};
        DWORD type = 0, size = MAX_PATH; // raw[MAX_PATH] stays the terminator
        if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(raw), &size) !=
            ERROR_SUCCESS)
            return nullptr;
        if (type == REG_SZ) return FromAnsiText(raw);
        if (type != REG_EXPAND_SZ) return nullptr;
        DWORD needed = ExpandEnvironmentStringsA(raw, expanded, MAX_PATH);
        return needed > 0 && needed <= MAX_PATH ? FromAnsiText(expanded) : nullptr;
    }
    Wide wideName(ToWide(name));
    if (!wideName.Held()) return nullptr;
    wchar_t raw[MAX_PATH + 1] = {}, expanded[MAX_PATH + 1] = {};
    DWORD type = 0, size = MAX_PATH * sizeof(wchar_t); // raw[MAX_PATH] stays the terminator
    if (RegQueryValueExW(key, wideName.Get(), nullptr, &type, reinterpret_cast<BYTE*>(raw),
                         &size) != ERROR_SUCCESS)
        return nullptr;
    const wchar_t* text = raw;
    if (type == REG_EXPAND_SZ) {
        DWORD needed = ExpandEnvironmentStringsW(raw, expanded, MAX_PATH);
        if (needed == 0 || needed > MAX_PATH) return nullptr;
        text = expanded;
    } else if (type != REG_SZ) {
        return nullptr;
    }
    return FromWide(text, wcslen(text));
}
