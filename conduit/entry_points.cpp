// The exports that the HotSync Manager calls, and the library's load and unload.
#include "conduit/conduit_api.h"
#include "conduit/conduit_sync.h"
#include "conduit/settings_dialog.h"

// Registered before DllMain runs, so it is there before any export can be called.
UINT g_syncResultMessage = RegisterWindowMessageA("zlv_kelpo_palm_synch");

namespace {

HINSTANCE g_module;
volatile LONG g_attachCount;

enum { kNameString = 1, kSettingsDialog = 101, kOldSettingsDialog = 399 };

INT_PTR ShowSettingsDialog(int templateId, CurrentSettings* settings) {
    return DialogBoxParamA(g_module, MAKEINTRESOURCEA(templateId), GetForegroundWindow(),
                           SettingsDialogProc, reinterpret_cast<LPARAM>(settings));
}

} // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        if (g_attachCount == 0) g_module = instance;
        InterlockedIncrement(&g_attachCount);
    } else if (reason == DLL_PROCESS_DETACH) {
        InterlockedDecrement(&g_attachCount);
    }
    return TRUE;
}

long CONDUIT_API OpenConduit(ProgressFn progress, SyncProperties& properties) {
    ConduitSync sync(progress, properties);
    sync.resultCode = kCopyOk;
    sync.Run();
    return sync.resultCode;
}

long CONDUIT_API GetConduitName(char* name, int size) {
    if (!name || size <= 0) return -1;
    return LoadStringA(g_module, kNameString, name, size) > 0 ? 0 : -1;
}

DWORD CONDUIT_API GetConduitVersion() {
    return 0x102;
}

long CONDUIT_API GetConduitInfo(int infoType, void* request, void* output, DWORD* outputSize) {
    if (!output) return kInfoNullOutput;
    if (!outputSize) return kInfoNullSize;
    switch (infoType) {
    case 0: {
        if (!request) return kInfoNullRequest;
        const NameRequest* name = static_cast<const NameRequest*>(request);
        if (name->version != 1 || name->size != sizeof(NameRequest)) return kInfoBadRequest;
        int room = *outputSize > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(*outputSize);
        if (room == 0) return kInfoNoName;
        return LoadStringA(g_module, kNameString, static_cast<char*>(output), room) > 0
                   ? 0
                   : kInfoNoName;
    }
    case 1:
    case 2: {
        if (*outputSize != sizeof(DWORD)) return kInfoBadOutputSize;
        DWORD value = infoType == 1 ? 0x10000000 : 0;
        CopyMemory(output, &value, sizeof(value));
        return 0;
    }
    default:
        return kInfoBadType;
    }
}

long CONDUIT_API ConfigureConduit(void* preference) {
    if (!preference) return -1;
    BYTE* record = static_cast<BYTE*>(preference);
    DWORD syncType;
    CopyMemory(&syncType, record + kPreferenceSyncTypeOffset, sizeof(syncType));

    CurrentSettings settings;
    ZeroMemory(&settings, sizeof(settings));
    settings.version = 1;
    settings.size = sizeof(settings);
    settings.defaultSyncType = syncType;
    settings.nextSyncType = syncType;
    settings.chosenSyncType = syncType;
    settings.preferenceKind = kPreferNextOnly;
    if (ShowSettingsDialog(kOldSettingsDialog, &settings) != 0) return -1;

    DWORD kind = settings.preferenceKind;
    CopyMemory(record + kPreferenceSyncTypeOffset, &settings.chosenSyncType, sizeof(DWORD));
    CopyMemory(record + kPreferenceKindOffset, &kind, sizeof(kind));
    return 0;
}

long CONDUIT_API CfgConduit(int kind, void* arguments, DWORD* argumentSize) {
    if (!arguments) return kInfoNullRequest;
    if (!argumentSize) return kCfgNullSize;
    if (*argumentSize != sizeof(CurrentSettings)) return kCfgBadSize;
    if (kind != 0) return kCfgBadKind;
    CurrentSettings* settings = static_cast<CurrentSettings*>(arguments);
    if (settings->version != 1) return kCfgBadVersion;

    NameRequest request;
    ZeroMemory(&request, sizeof(request));
    request.version = 1;
    request.size = sizeof(request);
    request.creatorId = settings->creatorId;
    request.userId = settings->userId;
    CopyMemory(request.userName, settings->userName, sizeof(request.userName));
    char name[256];
    DWORD nameSize = sizeof(name);
    long status = GetConduitInfo(0, &request, name, &nameSize);
    if (status != 0) return status;

    ShowSettingsDialog(kSettingsDialog, settings);
    return 0;
}
