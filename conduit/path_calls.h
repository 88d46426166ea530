// The conduit's calls that take or give a path, in wide characters: on Windows NT the wide calls,
// so that a folder named outside the ANSI code page (the user's rates folder, the folder the
// conduit was installed in) is used as it is; on Windows 95, 98 and Me, which have only the ANSI
// calls, the path in the code page it came from. The conduit shares no code with the agent, so it
// decides for itself, the same way.
#pragma once
#include <windows.h>

bool UsesWideCalls(); // the wide calls exist on Windows NT only

HANDLE OpenPath(const wchar_t* path, DWORD access, DWORD share, DWORD disposition);
DWORD PathAttributes(const wchar_t* path); // INVALID_FILE_ATTRIBUTES when it cannot be read
UINT DriveType(const wchar_t* root);
bool DeletePath(const wchar_t* path);
// The module's file into path (size characters); false when it does not fit whole.
bool ModulePath(HMODULE module, wchar_t* path, DWORD size);
// A REG_SZ value into text (size characters, always terminated). ERROR_MORE_DATA when it is
// longer; *type gets the value's type.
LONG QueryText(HKEY key, const char* name, wchar_t* text, DWORD size, DWORD* type);
// The program that opens the document, into program (MAX_PATH characters); ShellExecute's codes.
HINSTANCE FindProgram(const wchar_t* document, wchar_t* program);
HINSTANCE OpenInShell(HWND owner, const wchar_t* file, const wchar_t* parameters);
// WinHelp with the file's name in the code page, or its short name; FALSE when it has neither.
BOOL OpenHelpFile(HWND owner, const wchar_t* file, UINT command, ULONG_PTR data);
