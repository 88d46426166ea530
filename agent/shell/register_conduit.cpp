#include "agent/shell/register_conduit.h"

#include <stdio.h>
#include <string.h>

#include "agent/owners.h"
#include "agent/path/path_calls.h"
#include "agent/shell/file_probe.h"
#include "agent/shell/palm_desktop_text.h"

namespace {

const char kCreator[] = "ZLVA";
const char kConduitFile[] = "conduit.dll";
enum { kWorkBufferSize = 256, kFolderQuerySize = 126 };
// Room for Palm Desktop's folder of MAX_PATH characters, each up to three bytes of path text.
enum { kLibraryPathSize = 3 * MAX_PATH + 1 };

typedef long(WINAPI* QueryFolderFn)(const char* creator, char* buffer, int* size);
typedef long(WINAPI* RemoveEntryFn)(const char* creator);
typedef long(WINAPI* CreateEntryFn)(const char* creator, int conduitType);
typedef long(WINAPI* SetTextFn)(const char* creator, const char* text);

// The Conduit Manager's exports, bound by ordinal.
struct ConduitManager {
    QueryFolderFn queryFolder; // 49
    RemoveEntryFn removeEntry; // 65
    CreateEntryFn createEntry; // 67
    SetTextFn setConduitFile;  // 46
    SetTextFn setFolder;       // 48
    SetTextFn setFileName;     // 63
};

template <class Fn> Fn Ordinal(HMODULE module, int ordinal) {
    return reinterpret_cast<Fn>(
        reinterpret_cast<void*>(GetProcAddress(module, MAKEINTRESOURCEA(ordinal))));
}

// Bound at run time, so a machine without Palm Desktop still runs the agent.
bool Bind(HMODULE module, ConduitManager* cm) {
    if (!module) return false;
    cm->queryFolder = Ordinal<QueryFolderFn>(module, 49);
    cm->removeEntry = Ordinal<RemoveEntryFn>(module, 65);
    cm->createEntry = Ordinal<CreateEntryFn>(module, 67);
    cm->setConduitFile = Ordinal<SetTextFn>(module, 46);
    cm->setFolder = Ordinal<SetTextFn>(module, 48);
    cm->setFileName = Ordinal<SetTextFn>(module, 63);
    return cm->queryFolder && cm->removeEntry && cm->createEntry && cm->setConduitFile &&
           cm->setFolder && cm->setFileName;
}

// The Conduit Manager of the user's Palm Desktop, by its full path, with the libraries it needs
// found in its own folder. Never by bare name: that would search the agent's folder, the
// working folder and PATH first, where anyone might have put a library of that name.
HMODULE LoadConduitManager() {
    ScopedKey key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, ZLV_PALM_DESKTOP_KEY, 0, KEY_QUERY_VALUE, key.Receive()) !=
        ERROR_SUCCESS)
        return nullptr;
    // Either may name a folder outside the code page: read wide, loaded wide.
    ScopedMalloc<char> path(QueryPathValue(key.Get(), "Path"));
    ScopedMalloc<char> hotSyncPath(QueryPathValue(key.Get(), "HotSyncPath"));
    char library[kLibraryPathSize];
    if (!ConduitManagerPath(path.Get(), hotSyncPath.Get(), library, sizeof library)) return nullptr;
    return LoadLibraryByPath(library);
}

// The registered folder still holds conduit.dll.
bool RegistrationInPlace(const ConduitManager& cm, char* buffer) {
    int size = kFolderQuerySize;
    if (cm.queryFolder(kCreator, buffer, &size) != 0) return false;
    buffer[kFolderQuerySize] = 0; // whatever the query left, the text ends inside the buffer
    size_t length = strlen(buffer);
    if (length == 0 || buffer[length - 1] != '\\') buffer[length++] = '\\';
    memcpy(buffer + length, kConduitFile, sizeof(kConduitFile));
    ScopedMalloc<char> registered(FromAnsiText(buffer)); // the Conduit Manager's text is ANSI
    return registered.Held() && FileOpensForReading(registered.Get());
}

} // namespace

DWORD RegisterConduit(const char* agentFolder) {
    if (!agentFolder) return 1;
    ScopedLibrary library(LoadConduitManager());
    ConduitManager cm;
    if (!Bind(library.Get(), &cm)) return 1;

    // Room for the folder query and for the agent folder's full conduit path, however long.
    size_t size = strlen(agentFolder) + sizeof(kConduitFile) + 1;
    if (size < kWorkBufferSize) size = kWorkBufferSize;
    ScopedHeap<char> work(static_cast<char*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size)));
    char* buffer = work.Get();
    if (!buffer) return 0;

    if (RegistrationInPlace(cm, buffer)) return 1;
    snprintf(buffer, size, "%s\\%s", agentFolder, kConduitFile);
    if (!FileOpensForReading(buffer)) return 1;
    // The Conduit Manager takes ANSI text only, and a folder it cannot be given whole is not
    // registered at all: an entry with letters replaced would name no folder, or another one.
    ScopedMalloc<char> folder(AnsiPath(agentFolder));
    if (!folder.Held() ||
        snprintf(buffer, size, "%s\\%s", folder.Get(), kConduitFile) >= static_cast<int>(size))
        return 1;
    cm.removeEntry(kCreator);
    long result = cm.createEntry(kCreator, 0);
    if (result == 0) result = cm.setConduitFile(kCreator, buffer);
    if (result == 0) result = cm.setFolder(kCreator, folder.Get());
    if (result == 0) result = cm.setFileName(kCreator, kConduitFile);
    return static_cast<DWORD>(result);
}
