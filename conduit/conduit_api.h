// What the HotSync Manager sees of conduit.dll: the exports, their records and status codes.
// Every export is __stdcall and exported under its plain name (conduit.def).
#pragma once
#include <windows.h>
#include <stddef.h>

#define CONDUIT_API WINAPI

// Status codes of OpenConduit.
enum CopyStatus {
    kCopyOk = 0,
    kCopyNotFound = 4371,    // no handheld database of that type and creator
    kCopyLocalFailed = 4377, // the rates file could not be opened, read whole or deleted
    kCopyWriteFailed = 4384, // creating the database or writing the record failed
    kCopyBadHeader = 4394,   // the magic is wrong, or the file is too short for header and count
};

// Status codes of GetConduitInfo and CfgConduit.
enum InfoStatus {
    kInfoBadType = 4208,
    kInfoNullOutput = 4209,
    kInfoBadOutputSize = 4211,
    kInfoNullRequest = 4212,
    kInfoBadRequest = 4213,
    kInfoNoName = 4214,
    kInfoNullSize = 4215,
    kCfgNullSize = 4216,
    kCfgBadKind = 4217,
    kCfgBadSize = 4218,
    kCfgBadVersion = 4219,
};

enum SyncType { kSyncFiles = 0, kSyncHandheldOverwrites = 2, kSyncUpdate = 3, kSyncNothing = 6 };
enum PreferenceKind { kPreferDefault = 1, kPreferNextOnly = 2 };

#pragma pack(push, 1)
// Info type 0 of GetConduitInfo.
struct NameRequest {
    DWORD version; // 1
    DWORD size;    // 80
    DWORD creatorId;
    DWORD userId;
    char userName[64];
};

// The argument block of CfgConduit; ConfigureConduit builds one of its own.
struct CurrentSettings {
    DWORD version; // 1
    DWORD size;    // 352
    DWORD creatorId;
    DWORD userId;
    char userName[64];
    char path[256];
    DWORD defaultSyncType;
    DWORD nextSyncType;
    DWORD chosenSyncType;
    DWORD preferenceKind;
};
#pragma pack(pop)

static_assert(sizeof(NameRequest) == 80, "name request layout");
static_assert(sizeof(CurrentSettings) == 352, "current settings layout");
static_assert(offsetof(CurrentSettings, defaultSyncType) == 336, "current settings layout");
static_assert(offsetof(CurrentSettings, preferenceKind) == 348, "current settings layout");

// The older preference record of ConfigureConduit: only these two fields are ours to touch.
enum { kPreferenceKindOffset = 516, kPreferenceSyncTypeOffset = 520 };

// The HotSync Manager's record for one HotSync: the conduit reads only the first field.
struct SyncProperties {
    DWORD syncType;
};

typedef long(CONDUIT_API* ProgressFn)(const char* text);

extern "C" {
long CONDUIT_API OpenConduit(ProgressFn progress, SyncProperties& properties);
long CONDUIT_API GetConduitName(char* name, int size);
DWORD CONDUIT_API GetConduitVersion();
long CONDUIT_API GetConduitInfo(int infoType, void* request, void* output, DWORD* outputSize);
long CONDUIT_API ConfigureConduit(void* preference);
long CONDUIT_API CfgConduit(int kind, void* arguments, DWORD* argumentSize);
}

// For hosts that bind the exports at run time.
typedef long(CONDUIT_API* OpenConduitFn)(ProgressFn, SyncProperties&);
typedef long(CONDUIT_API* GetConduitNameFn)(char*, int);
typedef DWORD(CONDUIT_API* GetConduitVersionFn)();
typedef long(CONDUIT_API* GetConduitInfoFn)(int, void*, void*, DWORD*);
typedef long(CONDUIT_API* ConfigureConduitFn)(void*);
typedef long(CONDUIT_API* CfgConduitFn)(int, void*, DWORD*);
