// The agent's calls that take or give a path. On Windows NT they are the wide calls, so that a
// name outside the ANSI code page (a user's profile, the program's folder, Palm Desktop's) is
// used as it is; Windows 95, 98 and Me have only the ANSI calls, which they keep. Paths go in and
// come out as path text (path_text.h). A path that is not path text fails the call with
// ERROR_INVALID_NAME.
#pragma once
#include <windows.h>

// The one place that decides: the wide calls exist on Windows NT only.
bool WideCalls();

// Heap texts, released with free(); null on failure.
char* ModulePath(HMODULE module);     // the module's file, in full
char* LocalAppDataFolder();           // made when missing; null where the shell has no such call
char* FromAnsiText(const char* ansi); // a name as an ANSI-only interface gave it
// For an interface that takes only ANSI text: the path itself when it survives the code page,
// else its short (8.3) name when that does; null when neither does (a name outside the code page
// on a volume that keeps no short names), never a name with letters replaced.
char* AnsiPath(const char* path);
// For a text shown to the user, which stays single-byte: letters outside the code page become
// the code page's default character.
char* ShownText(const char* path);

HANDLE OpenPath(const char* path, DWORD access, DWORD share, DWORD disposition);
bool MakeFolder(const char* path);
DWORD PathAttributes(const char* path); // INVALID_FILE_ATTRIBUTES when it cannot be read
bool MovePathOver(const char* from, const char* to); // replaces `to`, written through to disk
bool DeletePath(const char* path);
// ShellExecute's "open", no owner, no parameters; true when the shell took it.
bool OpenInShell(const char* path, int show);
// The shell's wide ShellExecute as OpenInShell calls it: bound on first use, or a test's recorder.
typedef HINSTANCE(WINAPI* ShellExecuteWFn)(HWND, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR, INT);
extern ShellExecuteWFn g_shellExecuteW;
// By its full path, with the libraries it needs taken from its own folder.
HMODULE LoadLibraryByPath(const char* path);

// A REG_SZ value holding the text without its terminator.
LONG SetTextValue(HKEY key, const char* name, const char* text);
// A REG_SZ value, or a REG_EXPAND_SZ one expanded, of at most MAX_PATH characters; null when it
// is absent, of another type or longer.
char* QueryPathValue(HKEY key, const char* name);
