// What the installer test cannot see from Linux: values as the agent reads them, access rights,
// resources of the built binaries, balloons on screen, and a start with an ordinary user's rights.
//   install_probe value KEY NAME         "TYPE HEX" as RegQueryValueExA returns it, or "absent"
//   install_probe open KEY               the result of opening KEY as the agent does
//   install_probe set-key-sddl KEY SDDL  creates KEY with that access list (and owner, if named)
//   install_probe key-sddl KEY           the key's owner and access list
//   install_probe window CLASS MS        waits up to MS for a window of that class
//   install_probe hold-mutex NAME MS     holds that named mutex for MS; prints "held" once it does
//   install_probe string MODULE ID       a string of the module's string table
//   install_probe version MODULE NAME    a text of the module's version block
//   install_probe manifest MODULE        the module's application manifest
//   install_probe balloon MS             the text of the first balloon shown within MS
//   install_probe limited MS PROGRAM [ARGS]  runs PROGRAM without administrator rights; its code
//   install_probe run MS PROGRAM [ARGS]  the same with the probe's own rights
// KEY is HKLM\... or HKCU\...; exit code 0 when the answer was printed, 1 otherwise.
#include <windows.h>
#include <sddl.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

namespace {

// Owns one handle of a kind and gives it back with that kind's own release.
template <typename T, auto Release> struct Owned {
    T handle = nullptr;
    Owned() = default;
    explicit Owned(T h) : handle(h) {}
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;
    ~Owned() {
        if (handle && handle != INVALID_HANDLE_VALUE) Release(handle);
    }
};
using Key = Owned<HKEY, RegCloseKey>;
using Handle = Owned<HANDLE, CloseHandle>;
using LocalText = Owned<char*, LocalFree>;
using DataModule = Owned<HMODULE, FreeLibrary>;

HMODULE LoadAsData(const char* path) {
    return LoadLibraryExA(path, nullptr, LOAD_LIBRARY_AS_DATAFILE);
}

bool OpenKey(const char* path, REGSAM access, Key* key) {
    HKEY root = nullptr;
    if (!strncmp(path, "HKLM\\", 5))
        root = HKEY_LOCAL_MACHINE;
    else if (!strncmp(path, "HKCU\\", 5))
        root = HKEY_CURRENT_USER;
    if (!root) return false;
    return RegOpenKeyExA(root, path + 5, 0, access, &key->handle) == ERROR_SUCCESS;
}

// As the agent and the conduit open the key: full access, created when missing.
int Open(const char* keySpec) {
    HKEY root = !strncmp(keySpec, "HKCU\\", 5) ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
    Key key;
    LONG rc = RegCreateKeyExA(root, keySpec + 5, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &key.handle, nullptr);
    printf("%ld\n", static_cast<long>(rc));
    return 0;
}

int Value(const char* keySpec, const char* name) {
    Key key;
    DWORD type = 0, size = 0;
    if (!OpenKey(keySpec, KEY_QUERY_VALUE, &key) ||
        RegQueryValueExA(key.handle, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) {
        printf("absent\n");
        return 0;
    }
    std::vector<BYTE> data(size + 1);
    if (RegQueryValueExA(key.handle, name, nullptr, &type, data.data(), &size) != ERROR_SUCCESS)
        return 1;
    printf("%lu ", static_cast<unsigned long>(type));
    for (DWORD i = 0; i < size; ++i)
        printf("%02x", data[i]);
    printf("\n");
    return 0;
}

const SECURITY_INFORMATION kOwnerAndDacl = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;

int PrintSecurity(PSECURITY_DESCRIPTOR sd) {
    LocalText text;
    if (!ConvertSecurityDescriptorToStringSecurityDescriptorA(sd, SDDL_REVISION_1, kOwnerAndDacl,
                                                              &text.handle, nullptr))
        return 1;
    printf("%s\n", text.handle);
    return 0;
}

// What a descriptor given as SDDL names: its access list, and its owner when it has one.
SECURITY_INFORMATION Named(PSECURITY_DESCRIPTOR sd) {
    PSID owner = nullptr;
    BOOL defaulted = FALSE;
    GetSecurityDescriptorOwner(sd, &owner, &defaulted);
    return DACL_SECURITY_INFORMATION | (owner ? OWNER_SECURITY_INFORMATION : 0);
}

// The access list a new key under HKLM\Software has on Windows, which Wine does not give it.
int SetKeySddl(const char* keySpec, const char* sddl) {
    Key key;
    if (strncmp(keySpec, "HKLM\\", 5) ||
        RegCreateKeyExA(HKEY_LOCAL_MACHINE, keySpec + 5, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        &key.handle, nullptr) != ERROR_SUCCESS)
        return 1;
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &sd, nullptr))
        return 1;
    LONG rc = RegSetKeySecurity(key.handle, Named(sd), sd);
    LocalFree(sd);
    return rc == ERROR_SUCCESS ? 0 : 1;
}

int KeySddl(const char* keySpec) {
    Key key;
    if (!OpenKey(keySpec, READ_CONTROL, &key)) return 1;
    DWORD size = 0;
    RegGetKeySecurity(key.handle, kOwnerAndDacl, nullptr, &size);
    if (size == 0) return 1;
    std::vector<BYTE> sd(size);
    if (RegGetKeySecurity(key.handle, kOwnerAndDacl, sd.data(), &size) != ERROR_SUCCESS) return 1;
    return PrintSecurity(sd.data());
}

int String(const char* path, const char* id) {
    DataModule m(LoadAsData(path));
    char text[1024];
    if (!m.handle || LoadStringA(m.handle, static_cast<UINT>(atoi(id)), text, sizeof text) <= 0)
        return 1;
    printf("%s\n", text);
    return 0;
}

int Version(const char* path, const char* name) {
    DWORD ignored = 0, size = GetFileVersionInfoSizeA(path, &ignored);
    if (size == 0) return 1;
    std::vector<char> block(size);
    if (!GetFileVersionInfoA(path, 0, size, block.data())) return 1;
    // The block's own language and code page: the installer's differs from the agent's.
    WORD* translation = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(block.data(), "\\VarFileInfo\\Translation",
                        reinterpret_cast<void**>(&translation), &length) ||
        length < 2 * sizeof(WORD))
        return 1;
    char query[128];
    snprintf(query, sizeof query, "\\StringFileInfo\\%04x%04x\\%s", translation[0], translation[1],
             name);
    char* text = nullptr;
    if (!VerQueryValueA(block.data(), query, reinterpret_cast<void**>(&text), &length) || !text)
        return 1;
    printf("%s\n", text);
    return 0;
}

int Manifest(const char* path) {
    DataModule m(LoadAsData(path));
    if (!m.handle) return 1;
    HRSRC found = FindResourceA(m.handle, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
    HGLOBAL loaded = found ? LoadResource(m.handle, found) : nullptr;
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    if (!bytes) return 1;
    fwrite(bytes, 1, SizeofResource(m.handle, found), stdout);
    return 0;
}

struct BalloonSearch {
    std::string text;
};

// The shell shows a balloon as a visible tool-tip window; asked for its text, it gives the tip's.
BOOL CALLBACK FindBalloon(HWND window, LPARAM param) {
    char name[64] = {};
    if (!IsWindowVisible(window) || !GetClassNameA(window, name, sizeof name - 1) ||
        lstrcmpiA(name, "tooltips_class32"))
        return TRUE;
    char text[1024] = {};
    DWORD_PTR got = 0;
    if (!SendMessageTimeoutA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text),
                             SMTO_ABORTIFHUNG, 2000, &got) ||
        !text[0])
        return TRUE;
    reinterpret_cast<BalloonSearch*>(param)->text = text;
    return FALSE;
}

int Balloon(const char* ms) {
    DWORD limit = static_cast<DWORD>(atoi(ms)), start = GetTickCount();
    BalloonSearch search;
    do {
        EnumWindows(FindBalloon, reinterpret_cast<LPARAM>(&search));
        if (!search.text.empty()) {
            printf("%s\n", search.text.c_str());
            return 0;
        }
        Sleep(50);
    } while (GetTickCount() - start < limit);
    return 1;
}

int Window(const char* className, const char* ms) {
    DWORD limit = static_cast<DWORD>(atoi(ms)), start = GetTickCount();
    do {
        if (FindWindowA(className, nullptr)) {
            printf("found\n");
            return 0;
        }
        Sleep(50);
    } while (GetTickCount() - start < limit);
    return 1;
}

// Another instance, as far as a program that takes this mutex at its start can tell.
int HoldMutex(const char* name, const char* ms) {
    Handle mutex(CreateMutexA(nullptr, TRUE, name));
    if (!mutex.handle || GetLastError() == ERROR_ALREADY_EXISTS) return 1;
    printf("held\n");
    fflush(stdout);
    Sleep(static_cast<DWORD>(atoi(ms)));
    return 0;
}

// Runs the command line and tells how it ended within MS: "exit CODE", or "running" (left so).
// With a token, as that token's user; else with the probe's own rights.
int Run(HANDLE token, const char* ms, int argc, char** argv) {
    std::string line;
    for (int i = 0; i < argc; ++i) {
        bool quote = strchr(argv[i], ' ') != nullptr;
        line += std::string(i ? " " : "") + (quote ? "\"" : "") + argv[i] + (quote ? "\"" : "");
    }
    std::vector<char> mutableLine(line.begin(), line.end());
    mutableLine.push_back('\0');
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    BOOL started = token ? CreateProcessAsUserA(token, nullptr, mutableLine.data(), nullptr,
                                                nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)
                         : CreateProcessA(nullptr, mutableLine.data(), nullptr, nullptr, FALSE, 0,
                                          nullptr, nullptr, &si, &pi);
    if (!started) {
        fprintf(stderr, "cannot start %s (%lu)\n", argv[0], GetLastError());
        return 1;
    }
    Handle process(pi.hProcess), thread(pi.hThread);
    if (WaitForSingleObject(pi.hProcess, static_cast<DWORD>(atoi(ms))) != WAIT_OBJECT_0) {
        printf("running\n");
        return 0;
    }
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    printf("exit %lu\n", static_cast<unsigned long>(code));
    return 0;
}

// The user's own token less the Administrators group, as a standard user or a filtered
// administrator token runs.
int Limited(const char* ms, int argc, char** argv) {
    Handle own, limited;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, &own.handle)) return 1;
    BYTE sidBuffer[SECURITY_MAX_SID_SIZE];
    DWORD sidSize = sizeof sidBuffer;
    if (!CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, sidBuffer, &sidSize)) return 1;
    SID_AND_ATTRIBUTES disable = {sidBuffer, 0};
    if (!CreateRestrictedToken(own.handle, DISABLE_MAX_PRIVILEGE, 1, &disable, 0, nullptr, 0,
                               nullptr, &limited.handle)) {
        fprintf(stderr, "no limited token (%lu)\n", GetLastError());
        return 1;
    }
    return Run(limited.handle, ms, argc, argv);
}

} // namespace

int main(int argc, char** argv) {
    std::string command = argc > 1 ? argv[1] : "";
    if (command == "value" && argc == 4) return Value(argv[2], argv[3]);
    if (command == "open" && argc == 3) return Open(argv[2]);
    if (command == "set-key-sddl" && argc == 4) return SetKeySddl(argv[2], argv[3]);
    if (command == "key-sddl" && argc == 3) return KeySddl(argv[2]);
    if (command == "string" && argc == 4) return String(argv[2], argv[3]);
    if (command == "version" && argc == 4) return Version(argv[2], argv[3]);
    if (command == "manifest" && argc == 3) return Manifest(argv[2]);
    if (command == "balloon" && argc == 3) return Balloon(argv[2]);
    if (command == "window" && argc == 4) return Window(argv[2], argv[3]);
    if (command == "hold-mutex" && argc == 4) return HoldMutex(argv[2], argv[3]);
    if (command == "limited" && argc >= 4) return Limited(argv[2], argc - 3, argv + 3);
    if (command == "run" && argc >= 4) return Run(nullptr, argv[2], argc - 3, argv + 3);
    fprintf(stderr, "usage: see the head of install_probe.cpp\n");
    return 2;
}
