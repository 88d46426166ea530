#include "conduit/conduit_sync.h"

#include "conduit/rates_file.h"
#include "conduit/settings_key.h"
#include "conduit/sync_manager.h"

namespace {

const char kDatabaseName[] = "ZLV Currencies";
enum { kHeaderSize = 12 };

struct ScopedBuffer {
    BYTE* data;
    explicit ScopedBuffer(DWORD size)
        : data(static_cast<BYTE*>(HeapAlloc(GetProcessHeap(), 0, size))) {}
    ~ScopedBuffer() { Release(); }
    void Release() {
        if (data) HeapFree(GetProcessHeap(), 0, data);
        data = nullptr;
    }
    ScopedBuffer(const ScopedBuffer&) = delete;
    ScopedBuffer& operator=(const ScopedBuffer&) = delete;
};

// The handheld reads four-character codes with the first character in the top byte.
DWORD FourCharCode(const char* text) {
    DWORD value;
    CopyMemory(&value, text, sizeof(value));
    return SyncHostToHHDWord(value);
}

// "kelpo" in any case of letters, then a zero byte.
bool IsRatesMagic(const BYTE* header) {
    static const char kMagic[] = "kelpo";
    for (int i = 0; i < 5; ++i) {
        BYTE c = header[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<BYTE>(c - 'A' + 'a');
        if (c != static_cast<BYTE>(kMagic[i])) return false;
    }
    return header[5] == 0;
}

const char* SearchErrorText(long result) {
    switch (result) {
    case kSyncErrCommNotInit:
        return "search error: SYNCERR_COMM_NOT_INIT";
    case kSyncErrRemoteBadArg:
        return "search error: SYNCERR_REMOTE_BAD_ARG";
    case kSyncErrRemoteMem:
        return "search error: SYNCERR_REMOTE_MEM";
    case kSyncErrRemoteSys:
        return "search error: SYNCERR_REMOTE_SYS";
    case kSyncErrLostConnection:
        return "search error: SYNCERR_LOST_CONNECTION";
    default:
        return "search error: SYNCERR_NOT_FOUND";
    }
}

} // namespace

ConduitSync::ConduitSync(ProgressFn progressFn, SyncProperties& properties)
    : syncProperties(properties), connection(0), progress(progressFn), resultCode(0) {
    if (progress) {
        progress("Opening connection");
        SyncRegisterConduit(&connection);
    }
}

ConduitSync::~ConduitSync() {
    if (progress) progress("Closing connection");
    if (connection != 0) SyncUnregisterConduit(connection);
}

void ConduitSync::Report(const char* text) {
    if (progress) progress(text);
}

void ConduitSync::Run() {
    if (syncProperties.syncType == kSyncNothing) return;
    HWND agent = ReadAgentWindow();
    CopyRates();
    if (agent) SendMessageA(agent, g_syncResultMessage, resultCode == kCopyOk ? 2 : 3, 0);
}

void ConduitSync::CopyRates() {
    Report("verifying local database");
    char path[kRatesPathSize];
    RatesPath where = BuildRatesPath(path);
    if (where == kRatesPathTooLong) {
        Report("rates file path too long");
        resultCode = kCopyReadFailed;
        return;
    }
    if (where == kRatesPathNoFolder) {
        Report("currencies are up-to-date");
        return;
    }
    // Held from the first read to the delete, so the file deleted is the file copied.
    RatesFile file(path);
    if (!file.IsOpen()) {
        Report("currencies are up-to-date");
        return;
    }

    DWORD sizeHigh = 0;
    DWORD size = GetFileSize(file.handle, &sizeHigh);
    bool sizeKnown = !(size == INVALID_FILE_SIZE && GetLastError() != NO_ERROR);
    BYTE header[kHeaderSize] = {};
    DWORD headerRead = 0;
    if (!ReadFile(file.handle, header, kHeaderSize, &headerRead, nullptr)) headerRead = 0;
    if (headerRead == 0 || !IsRatesMagic(header)) {
        Report("invalid local DBheader");
        resultCode = kCopyBadHeader;
        return;
    }
    if (!sizeKnown) {
        Report("bytes read not enough");
        resultCode = kCopyReadFailed;
        return;
    }
    DWORD bodyLength = size > headerRead ? size - headerRead : 0;
    // One record cannot hold more: refuse before the handheld is touched.
    if (sizeHigh != 0 || bodyLength > kMaxRecordBytes) {
        Report("rates too large for the handheld record");
        resultCode = kCopyWriteFailed;
        return;
    }
    ScopedBuffer body(bodyLength + 2);
    DWORD bodyRead = 0;
    if (!body.data || !ReadFile(file.handle, body.data, bodyLength, &bodyRead, nullptr) ||
        bodyRead != bodyLength) {
        Report("bytes read not enough");
        resultCode = kCopyReadFailed;
        return;
    }

    Report("searching palm database");
    SyncSearchParams search;
    ZeroMemory(&search, sizeof(search));
    search.optionFlags = kSearchOptionFlags;
    search.searchFlags = kSearchFlags;
    search.type = FourCharCode("CURR");
    search.creator = FourCharCode("ZLVD");
    SyncDbInfo info;
    ZeroMemory(&info, sizeof(info));
    long found = SyncFindDbByTypeCreator(&search, &info);
    if (found != 0) {
        Report(SearchErrorText(found));
        resultCode = kCopyNotFound;
        return;
    }
    info.name[sizeof(info.name) - 1] = 0;

    Report("opening database");
    BYTE database = 0;
    bool cleared = true;
    if (SyncOpenDatabase(info.name, info.cardNo, &database, kOpenModeReadWrite) == 0) {
        Report("clearing handheld database");
        // Old rates left beside the new record would stay on the handheld with them, and the
        // file would be gone: write only into an emptied database.
        cleared = SyncDeleteAllRecords(database) == 0;
    } else {
        Report("open error, creating...");
        SyncCreateDbBlock create;
        ZeroMemory(&create, sizeof(create));
        create.creator = FourCharCode("ZLVD");
        lstrcpynA(create.name, kDatabaseName, sizeof(create.name));
        create.type = FourCharCode("CURR");
        if (SyncCreateDatabase(&create) != 0) {
            resultCode = kCopyWriteFailed;
            return;
        }
        database = create.handle;
    }

    if (cleared) {
        Report("updating currencies");
        resultCode = kCopyOk;
        SyncRecordBlock record;
        ZeroMemory(&record, sizeof(record));
        record.handle = database;
        record.attributes = kRecordModified;
        record.size = bodyLength;
        record.byteCount = static_cast<WORD>(bodyLength);
        record.data = body.data;
        if (SyncWriteRecord(&record) != 0) resultCode = kCopyWriteFailed;
    } else {
        resultCode = kCopyWriteFailed;
    }
    body.Release();

    Report("closing database");
    SyncCloseDatabase(database);
    if (resultCode == kCopyOk) file.DeleteAndClose();
}
