#include "agent/shell/register_conduit.h"

#include <stdio.h>
#include <string.h>

namespace {

const char kCreator[] = "ZLVA";
const char kConduitFile[] = "conduit.dll";
enum { kWorkBufferSize = 256, kFolderQuerySize = 126 };

typedef long(WINAPI* QueryFolderFn)(const char* creator, char* buffer, int* size);
typedef long(WINAPI* RemoveEntryFn)(const char* creator);
typedef long(WINAPI* CreateEntryFn)(const char* creator, int conduitType);
typedef long(WINAPI* SetTextFn)(const char* creator, const char* text);

struct ConduitManager {
    HMODULE module;
    QueryFolderFn queryFolder; // 49
    RemoveEntryFn removeEntry; // 65
    CreateEntryFn createEntry; // 67
    SetTextFn setConduitFile;  // 46
    SetTextFn setFolder;       // 48
    SetTextFn setFileName;     // 63
    ConduitManager() : module(LoadLibraryA("condmgr.dll")) {}
    ~ConduitManager() {
        if (module) FreeLibrary(module);
    }
    ConduitManager(const ConduitManager&) = delete;
    ConduitManager& operator=(const ConduitManager&) = delete;
};

template <class Fn> Fn Ordinal(HMODULE module, int ordinal) {
    return reinterpret_cast<Fn>(
        reinterpret_cast<void*>(GetProcAddress(module, MAKEINTRESOURCEA(ordinal))));
}

// Bound at run time, so a machine without a HotSync Manager still runs the agent.
bool Bind(ConduitManager* cm) {
    if (!cm->module) return false;
    cm->queryFolder = Ordinal<QueryFolderFn>(cm->module, 49);
    cm->removeEntry = Ordinal<RemoveEntryFn>(cm->module, 65);
    cm->createEntry = Ordinal<CreateEntryFn>(cm->module, 67);
    cm->setConduitFile = Ordinal<SetTextFn>(cm->module, 46);
    cm->setFolder = Ordinal<SetTextFn>(cm->module, 48);
    cm->setFileName = Ordinal<SetTextFn>(cm->module, 63);
    return cm->queryFolder && cm->removeEntry && cm->createEntry && cm->setConduitFile &&
           cm->setFolder && cm->setFileName;
}

bool FileReadable(const char* path) {
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    CloseHandle(file);
    return true;
}

// The registered folder still holds conduit.dll.
bool RegistrationInPlace(const ConduitManager& cm, char* buffer) {
    int size = kFolderQuerySize;
    if (cm.queryFolder(kCreator, buffer, &size) != 0) return false;
    buffer[kFolderQuerySize] = 0; // whatever the query left, the text ends inside the buffer
    size_t length = strlen(buffer);
    if (length == 0 || buffer[length - 1] != '\\') buffer[length++] = '\\';
    memcpy(buffer + length, kConduitFile, sizeof(kConduitFile));
    return FileReadable(buffer);
}

} // namespace

DWORD RegisterConduit(const char* agentFolder) {
    if (!agentFolder) return 1;
    ConduitManager cm;
    if (!Bind(&cm)) return 1;

    // Room for the folder query and for the agent folder's full conduit path, however long.
    size_t size = strlen(agentFolder) + sizeof(kConduitFile) + 1;
    if (size < kWorkBufferSize) size = kWorkBufferSize;
    char* buffer = static_cast<char*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size));
    if (!buffer) return 0;

    DWORD status = 1;
    if (!RegistrationInPlace(cm, buffer)) {
        snprintf(buffer, size, "%s\\%s", agentFolder, kConduitFile);
        if (FileReadable(buffer)) {
            cm.removeEntry(kCreator);
            long result = cm.createEntry(kCreator, 0);
            if (result == 0) result = cm.setConduitFile(kCreator, buffer);
            if (result == 0) result = cm.setFolder(kCreator, agentFolder);
            if (result == 0) result = cm.setFileName(kCreator, kConduitFile);
            status = static_cast<DWORD>(result);
        }
    }
    HeapFree(GetProcessHeap(), 0, buffer);
    return status;
}
