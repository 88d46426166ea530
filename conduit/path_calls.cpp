#include "conduit/path_calls.h"

#include <shellapi.h>

namespace {

const DWORD kWindows9x = 0x80000000; // GetVersion's top bit

// A wide path in the ANSI code page, for the ANSI calls of Windows 9x, whose paths all came from
// that code page. Empty when it cannot be converted, which no file is named.
class CodePageText {
  public:
    explicit CodePageText(const wchar_t* wide) {
        text_[0] = '\0';
        if (wide &&
            WideCharToMultiByte(CP_ACP, 0, wide, -1, text_, sizeof text_, nullptr, nullptr) == 0)
            text_[0] = '\0';
    }
    const char* Get() const { return text_; }

  private:
    char text_[2 * MAX_PATH]; // a double-byte code page takes two for a letter
};

bool FromCodePage(const char* text, wchar_t* wide, DWORD size) {
    return MultiByteToWideChar(CP_ACP, 0, text, -1, wide, static_cast<int>(size)) > 0;
}

// The name reads back the same from the code page.
bool SurvivesCodePage(const wchar_t* wide) {
    CodePageText text(wide);
    wchar_t back[MAX_PATH];
    return text.Get()[0] && FromCodePage(text.Get(), back, MAX_PATH) && wcscmp(back, wide) == 0;
}

// The shell's wide calls, bound at run time: an import of them would keep the conduit from
// loading at all on a Windows 9x whose shell32 does not carry the wide names.
typedef HINSTANCE(WINAPI* FindExecutableWFn)(LPCWSTR, LPCWSTR, LPWSTR);
typedef HINSTANCE(WINAPI* ShellExecuteWFn)(HWND, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR, INT);

template <class Fn> Fn ShellCall(const char* name) {
    HMODULE shell = GetModuleHandleA("shell32.dll");
    return reinterpret_cast<Fn>(
        reinterpret_cast<void*>(shell ? GetProcAddress(shell, name) : nullptr));
}

} // namespace

bool UsesWideCalls() {
    return (GetVersion() & kWindows9x) == 0;
}

HANDLE OpenPath(const wchar_t* path, DWORD access, DWORD share, DWORD disposition) {
    if (UsesWideCalls())
        return CreateFileW(path, access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
    return CreateFileA(CodePageText(path).Get(), access, share, nullptr, disposition,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

DWORD PathAttributes(const wchar_t* path) {
    return UsesWideCalls() ? GetFileAttributesW(path)
                           : GetFileAttributesA(CodePageText(path).Get());
}

UINT DriveType(const wchar_t* root) {
    return UsesWideCalls() ? GetDriveTypeW(root) : GetDriveTypeA(CodePageText(root).Get());
}

bool DeletePath(const wchar_t* path) {
    return (UsesWideCalls() ? DeleteFileW(path) : DeleteFileA(CodePageText(path).Get())) != FALSE;
}

bool ModulePath(HMODULE module, wchar_t* path, DWORD size) {
    DWORD length;
    if (UsesWideCalls()) {
        length = GetModuleFileNameW(module, path, size);
    } else {
        char text[MAX_PATH + 1];
        length = GetModuleFileNameA(module, text, MAX_PATH);
        if (length == 0 || length >= MAX_PATH) return false;
        text[length] = '\0';
        if (!FromCodePage(text, path, size)) return false;
        length = static_cast<DWORD>(wcslen(path));
    }
    if (length == 0 || length >= size) return false; // a cut path names no folder we can trust
    path[length] = 0;
    return true;
}

LONG QueryText(HKEY key, const char* name, wchar_t* text, DWORD size, DWORD* type) {
    ZeroMemory(text, size * sizeof(wchar_t));
    *type = 0;
    // One character short of the buffer, so the text always ends in a zero.
    if (UsesWideCalls()) {
        wchar_t wideName[64];
        if (!FromCodePage(name, wideName, 64)) return ERROR_INVALID_PARAMETER;
        DWORD bytes = (size - 1) * sizeof(wchar_t);
        return RegQueryValueExW(key, wideName, nullptr, type, reinterpret_cast<BYTE*>(text),
                                &bytes);
    }
    char ansi[2 * MAX_PATH] = {};
    DWORD bytes = size - 1 < sizeof ansi - 1 ? size - 1 : sizeof ansi - 1;
    LONG status = RegQueryValueExA(key, name, nullptr, type, reinterpret_cast<BYTE*>(ansi), &bytes);
    if (status == ERROR_SUCCESS && *type == REG_SZ && !FromCodePage(ansi, text, size))
        status = ERROR_MORE_DATA;
    return status;
}

HINSTANCE FindProgram(const wchar_t* document, wchar_t* program) {
    program[0] = 0;
    if (UsesWideCalls()) {
        FindExecutableWFn find = ShellCall<FindExecutableWFn>("FindExecutableW");
        return find ? find(document, nullptr, program) : nullptr;
    }
    char found[MAX_PATH] = "";
    HINSTANCE result = FindExecutableA(CodePageText(document).Get(), nullptr, found);
    if (!FromCodePage(found, program, MAX_PATH)) program[0] = 0;
    return result;
}

HINSTANCE OpenInShell(HWND owner, const wchar_t* file, const wchar_t* parameters) {
    if (UsesWideCalls()) {
        ShellExecuteWFn execute = ShellCall<ShellExecuteWFn>("ShellExecuteW");
        return execute ? execute(owner, L"open", file, parameters, nullptr, SW_SHOWNORMAL)
                       : nullptr;
    }
    CodePageText ansiParameters(parameters);
    return ShellExecuteA(owner, "open", CodePageText(file).Get(),
                         parameters ? ansiParameters.Get() : nullptr, nullptr, SW_SHOWNORMAL);
}

// WinHelp hands its viewer the name in the code page: a name outside it goes by its short name,
// and one that has none is not asked for at all.
BOOL OpenHelpFile(HWND owner, const wchar_t* file, UINT command, ULONG_PTR data) {
    wchar_t shortName[MAX_PATH];
    const wchar_t* name = file;
    if (UsesWideCalls() && !SurvivesCodePage(file)) {
        DWORD n = GetShortPathNameW(file, shortName, MAX_PATH);
        if (n == 0 || n >= MAX_PATH || !SurvivesCodePage(shortName)) return FALSE;
        name = shortName;
    }
    CodePageText text(name);
    return text.Get()[0] && WinHelpA(owner, text.Get(), command, data);
}
