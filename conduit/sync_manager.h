// The Sync Manager (sync20.dll) as the conduit uses it. Two calls are bound by name, the rest by
// ordinal (sync20.def); all are __stdcall and return 0 on success.
#pragma once
#include <windows.h>
#include <stddef.h>

#pragma pack(push, 1)
struct SyncSearchParams {
    BYTE optionFlags; // 0x80
    BYTE searchFlags; // 0x80
    DWORD type;       // handheld byte order
    DWORD creator;
};

// Filled by the search; only the card number and the name are ours to read.
struct SyncDbInfo {
    long cardNo;
    BYTE reserved1[6];
    char name[32];
    BYTE reserved2[72];
};

struct SyncCreateDbBlock {
    BYTE handle; // filled by the Sync Manager
    DWORD creator;
    DWORD flags;
    BYTE cardNo;
    char name[32];
    DWORD type;
    WORD version;
    DWORD reserved;
};

struct SyncRecordBlock {
    BYTE handle;
    DWORD recordId; // 0: a new record, the handheld picks the id
    WORD index;
    BYTE attributes;
    WORD category;
    DWORD reserved1;
    DWORD size;
    WORD byteCount;
    BYTE* data;
    DWORD reserved2;
};
#pragma pack(pop)

static_assert(sizeof(SyncSearchParams) == 10, "search block layout");
static_assert(offsetof(SyncSearchParams, creator) == 6, "search block layout");
static_assert(sizeof(SyncDbInfo) == 114, "database information layout");
static_assert(offsetof(SyncDbInfo, name) == 10, "database information layout");
static_assert(sizeof(SyncCreateDbBlock) == 52, "creation block layout");
static_assert(offsetof(SyncCreateDbBlock, name) == 10, "creation block layout");
static_assert(offsetof(SyncCreateDbBlock, type) == 42, "creation block layout");
static_assert(offsetof(SyncCreateDbBlock, version) == 46, "creation block layout");
// The Sync Manager's blocks are 32-bit by contract; the 64-bit test build widens only the data
// pointer, and only the stand-in reads that layout.
#ifdef _WIN64
static_assert(sizeof(SyncRecordBlock) == 32, "record block layout (64-bit test build)");
#else
static_assert(sizeof(SyncRecordBlock) == 28, "record block layout");
#endif
static_assert(offsetof(SyncRecordBlock, attributes) == 7, "record block layout");
static_assert(offsetof(SyncRecordBlock, size) == 14, "record block layout");
static_assert(offsetof(SyncRecordBlock, byteCount) == 18, "record block layout");
static_assert(offsetof(SyncRecordBlock, data) == 20, "record block layout");

enum {
    kSearchOptionFlags = 0x80,
    kSearchFlags = 0x80,
    kOpenModeReadWrite = 0x40,
    kRecordModified = 0x40,
    kMaxRecordBytes = 0xFFFF, // the record's byte count is 16 bits wide
};

// Search results that get a text of their own; anything else reads as "not found".
enum {
    kSyncErrCommNotInit = 0x400A,
    kSyncErrRemoteBadArg = 0x400F,
    kSyncErrRemoteMem = 0x4013,
    kSyncErrRemoteSys = 0x4015,
    kSyncErrLostConnection = 0x10006410,
};

extern "C" {
DWORD WINAPI SyncHostToHHDWord(DWORD value);
long WINAPI SyncFindDbByTypeCreator(SyncSearchParams* params, SyncDbInfo* info);
long WINAPI SyncRegisterConduit(DWORD* connection);                                   // 22
long WINAPI SyncUnregisterConduit(DWORD connection);                                  // 23
long WINAPI SyncOpenDatabase(const char* name, long cardNo, BYTE* handle, BYTE mode); // 26
long WINAPI SyncCreateDatabase(SyncCreateDbBlock* block);                             // 27
long WINAPI SyncCloseDatabase(BYTE handle);                                           // 28
long WINAPI SyncWriteRecord(SyncRecordBlock* block);                                  // 32
long WINAPI SyncDeleteAllRecords(BYTE handle);                                        // 41
}
