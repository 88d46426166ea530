// HotSync Manager stand-in: loads the conduit registered for "ZLVA" and drives it.
//   hotsync [SYNCTYPE]                 one HotSync (sync type 3 unless given); exit code = result
//   hotsync --configure [options]      CfgConduit; prints the record's answer
//   hotsync --configure-old [options]  ConfigureConduit; prints the preference record's answer
//   hotsync --install-db [NAME TYPE CREATOR]  an empty database on the handheld
// Options: --next N, --default N, --user NAME, --creator N. Progress texts go to standard output,
// one a line; the host's own remarks go to standard error.
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "conduit/conduit_api.h"
#include "palmsim/palmsim.h"

namespace {

enum { kHostError = 9009, kRulesBroken = 9010 };

long CONDUIT_API PrintProgress(const char* text) {
    printf("%s\n", text ? text : "(null)");
    fflush(stdout);
    return 0;
}

std::string EntryValue(const char* name) {
    HKEY key;
    std::string path = std::string(PALMSIM_CONDUITS_KEY) + "\\ZLVA";
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return std::string();
    char text[1024] = {};
    DWORD size = sizeof(text) - 1;
    LONG status =
        RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size);
    RegCloseKey(key);
    return status == ERROR_SUCCESS ? std::string(text) : std::string();
}

HMODULE LoadConduit() {
    std::string folder = EntryValue("Folder"), file = EntryValue("File");
    std::string path =
        !folder.empty() && !file.empty() ? folder + "\\" + file : EntryValue("Conduit");
    if (path.empty()) {
        fprintf(stderr, "hotsync: no conduit registered for ZLVA\n");
        return nullptr;
    }
    HMODULE module = LoadLibraryA(path.c_str());
    if (!module) fprintf(stderr, "hotsync: cannot load %s (%lu)\n", path.c_str(), GetLastError());
    return module;
}

template <class Fn> Fn Bind(FARPROC fn) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(fn));
}

template <class Fn> Fn Export(HMODULE module, const char* name) {
    FARPROC fn = GetProcAddress(module, name);
    if (!fn) fprintf(stderr, "hotsync: the conduit does not export %s\n", name);
    return Bind<Fn>(fn);
}

struct Options {
    DWORD next = kSyncUpdate, defaultType = kSyncUpdate, creator = 0x5A4C5641; // "ZLVA"
    const char* user = "Palm User";
};

void ReadOptions(int argc, char** argv, int first, Options* o) {
    for (int i = first; i + 1 < argc; i += 2) {
        if (!strcmp(argv[i], "--next"))
            o->next = strtoul(argv[i + 1], nullptr, 0);
        else if (!strcmp(argv[i], "--default"))
            o->defaultType = strtoul(argv[i + 1], nullptr, 0);
        else if (!strcmp(argv[i], "--user"))
            o->user = argv[i + 1];
        else if (!strcmp(argv[i], "--creator"))
            o->creator = strtoul(argv[i + 1], nullptr, 0);
    }
}

// The host's own record for one HotSync; the conduit reads only the sync type in front.
struct HostSyncProperties {
    SyncProperties head;
    DWORD creatorId;
    DWORD userId;
    char userName[64];
    char localFolder[256];
};

typedef long(WINAPI* EndHotSyncFn)();

// What the Sync Manager stand-in has to say once the conduit is done; a Sync Manager that was
// never loaded saw no calls and so no broken rules.
long EndHotSync() {
    HMODULE sync = GetModuleHandleA("sync20.dll");
    if (!sync) return 0;
    EndHotSyncFn end = Bind<EndHotSyncFn>(GetProcAddress(sync, "PalmSimEndHotSync"));
    if (!end) {
        fprintf(stderr, "hotsync: the loaded sync20.dll is not the stand-in\n");
        return 1;
    }
    return end();
}

int RunHotSync(DWORD syncType) {
    HMODULE conduit = LoadConduit();
    if (!conduit) return kHostError;
    OpenConduitFn open = Export<OpenConduitFn>(conduit, "OpenConduit");
    if (!open) return kHostError;
    HostSyncProperties properties = {};
    properties.head.syncType = syncType;
    properties.creatorId = 0x5A4C5641;
    properties.userId = 1;
    lstrcpynA(properties.userName, "Palm User", sizeof(properties.userName));
    LARGE_INTEGER start, end, frequency;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    long result = open(PrintProgress, properties.head);
    QueryPerformanceCounter(&end);
    fprintf(stderr, "hotsync: result %ld after %.2f ms\n", result,
            double(end.QuadPart - start.QuadPart) * 1000.0 / double(frequency.QuadPart));
    long broken = EndHotSync();
    FreeLibrary(conduit);
    if (broken != 0) {
        fprintf(stderr, "hotsync: the conduit broke %ld of the Sync Manager's rules\n", broken);
        return kRulesBroken;
    }
    return int(result);
}

int Configure(const Options& o) {
    HMODULE conduit = LoadConduit();
    if (!conduit) return kHostError;
    CfgConduitFn cfg = Export<CfgConduitFn>(conduit, "CfgConduit");
    if (!cfg) return kHostError;
    CurrentSettings settings = {};
    settings.version = 1;
    settings.size = sizeof(settings);
    settings.creatorId = o.creator;
    settings.userId = 1;
    lstrcpynA(settings.userName, o.user, sizeof(settings.userName));
    lstrcpynA(settings.path, "C:\\Palm\\User\\Zelvantic", sizeof(settings.path));
    settings.defaultSyncType = o.defaultType;
    settings.nextSyncType = o.next;
    settings.chosenSyncType = 0xFFFFFFFF;
    settings.preferenceKind = 0xFFFFFFFF;
    DWORD size = sizeof(settings);
    long result = cfg(0, &settings, &size);
    printf("result %ld next %lu chosen %ld kind %ld\n", result, settings.nextSyncType,
           long(settings.chosenSyncType), long(settings.preferenceKind));
    FreeLibrary(conduit);
    return int(result);
}

int ConfigureOld(const Options& o) {
    HMODULE conduit = LoadConduit();
    if (!conduit) return kHostError;
    ConfigureConduitFn configure = Export<ConfigureConduitFn>(conduit, "ConfigureConduit");
    if (!configure) return kHostError;
    BYTE preference[1024];
    memset(preference, 0xEE, sizeof(preference));
    memcpy(preference + kPreferenceSyncTypeOffset, &o.next, sizeof(DWORD));
    long result = configure(preference);
    DWORD kind, syncType;
    memcpy(&kind, preference + kPreferenceKindOffset, sizeof(kind));
    memcpy(&syncType, preference + kPreferenceSyncTypeOffset, sizeof(syncType));
    printf("result %ld synctype %ld kind %ld\n", result, long(syncType), long(kind));
    FreeLibrary(conduit);
    return int(result);
}

typedef long(WINAPI* RegisterFn)(DWORD*);
typedef long(WINAPI* UnregisterFn)(DWORD);
typedef long(WINAPI* CreateFn)(BYTE*);
typedef long(WINAPI* CloseFn)(BYTE);

// Through the Sync Manager, by its own rules: registered for the length of the creation.
int InstallDatabase(const char* name, const char* type, const char* creator) {
    if (strlen(name) > 31 || strlen(type) != 4 || strlen(creator) != 4) {
        fprintf(stderr, "hotsync: a name of up to 31 characters and two four-character codes\n");
        return kHostError;
    }
    HMODULE sync = LoadLibraryA("sync20.dll");
    auto ordinal = [sync](int n) {
        return sync ? GetProcAddress(sync, MAKEINTRESOURCEA(n)) : nullptr;
    };
    RegisterFn reg = Bind<RegisterFn>(ordinal(22));
    UnregisterFn unregister = Bind<UnregisterFn>(ordinal(23));
    CreateFn create = Bind<CreateFn>(ordinal(27));
    CloseFn close = Bind<CloseFn>(ordinal(28));
    if (!reg || !unregister || !create || !close) {
        fprintf(stderr, "hotsync: no usable sync20.dll\n");
        return kHostError;
    }
    BYTE block[52] = {};
    DWORD creatorCode = DWORD(creator[0]) << 24 | DWORD(creator[1]) << 16 | DWORD(creator[2]) << 8 |
                        DWORD(BYTE(creator[3]));
    DWORD typeCode =
        DWORD(type[0]) << 24 | DWORD(type[1]) << 16 | DWORD(type[2]) << 8 | DWORD(BYTE(type[3]));
    memcpy(block + 1, &creatorCode, 4);
    memcpy(block + 10, name, strlen(name));
    memcpy(block + 42, &typeCode, 4);
    DWORD connection = 0;
    long result = reg(&connection);
    if (result == 0) {
        result = create(block);
        if (result == 0) close(block[0]);
        unregister(connection);
    }
    fprintf(stderr, "hotsync: creating %s: %ld\n", name, result);
    return int(result);
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    if (argc > 1 && !strcmp(argv[1], "--configure")) {
        ReadOptions(argc, argv, 2, &options);
        return Configure(options);
    }
    if (argc > 1 && !strcmp(argv[1], "--configure-old")) {
        ReadOptions(argc, argv, 2, &options);
        return ConfigureOld(options);
    }
    if (argc > 1 && !strcmp(argv[1], "--install-db")) {
        if (argc == 5) return InstallDatabase(argv[2], argv[3], argv[4]);
        return InstallDatabase("ZLV Currencies", "CURR", "ZLVD");
    }
    if (argc > 1 && argv[1][0] == '-') {
        fprintf(stderr, "usage: hotsync [SYNCTYPE] | --configure | --configure-old | "
                        "--install-db [NAME TYPE CREATOR]\n");
        return 2;
    }
    return RunHotSync(argc > 1 ? strtoul(argv[1], nullptr, 0) : DWORD(kSyncUpdate));
}
