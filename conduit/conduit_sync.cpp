#include "conduit/conduit_sync.h"

#include "conduit/owners.h"
#include "conduit/settings_key.h"

namespace {

const char kDatabaseName[] = "ZLV Currencies";
enum { kHeaderSize = 12, kCountSize = 4 };

// Ends the copy with result 0: there is nothing to copy, the handheld is up to date.
const long kNothingToCopy = -1;
// The sync-result message's first parameter.
const WPARAM kSyncResultUpdated = 2;
const WPARAM kSyncResultFailed = 3;
// A hung agent window gets this long to take the result; the HotSync never waits longer for it.
const UINT kSyncResultTimeoutMs = 5000;

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

struct SearchError {
    long result;
    const char* text;
};
const SearchError kSearchErrors[] = {
    {kSyncErrCommNotInit, "search error: SYNCERR_COMM_NOT_INIT"},
    {kSyncErrRemoteBadArg, "search error: SYNCERR_REMOTE_BAD_ARG"},
    {kSyncErrRemoteMem, "search error: SYNCERR_REMOTE_MEM"},
    {kSyncErrRemoteSys, "search error: SYNCERR_REMOTE_SYS"},
    {kSyncErrLostConnection, "search error: SYNCERR_LOST_CONNECTION"},
};

const char* SearchErrorText(long result) {
    for (const SearchError& e : kSearchErrors)
        if (e.result == result) return e.text;
    return "search error: SYNCERR_NOT_FOUND";
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
    if (!agent) return;
    DWORD_PTR ignored = 0;
    SendMessageTimeoutA(agent, g_syncResultMessage,
                        resultCode == kCopyOk ? kSyncResultUpdated : kSyncResultFailed, 0,
                        SMTO_ABORTIFHUNG | SMTO_BLOCK, kSyncResultTimeoutMs, &ignored);
}

void ConduitSync::CopyRates() {
    Report("verifying local database");
    RatesLocation location;
    long status = kCopyOk;
    switch (BuildRatesPath(&location)) {
    case kRatesPathTooLong:
        Report("rates file path too long");
        status = kCopyLocalFailed;
        break;
    case kRatesPathNoFolder:
        status = kNothingToCopy;
        break;
    case kRatesPathReady:
        status = CopyAndDelete(location.path);
        break;
    }
    if (status == kNothingToCopy) {
        Report("currencies are up-to-date");
        status = kCopyOk;
    }
    resultCode = status;
}

long ConduitSync::CopyAndDelete(const wchar_t* path) {
    // Held from the first read to the delete, so the file deleted is the file copied.
    RatesFile file(path);
    if (file.state == kRatesAbsent) return kNothingToCopy;
    if (file.state == kRatesOpenFailed) {
        Report("cannot open local database");
        return kCopyLocalFailed;
    }
    long status = CopyToHandheld(file);
    if (status == kCopyOk && !file.DeleteAndClose()) {
        // The record is on the handheld; the file left behind is copied again next time.
        Report("cannot delete local database");
        status = kCopyLocalFailed;
    }
    return status;
}

long ConduitSync::CopyToHandheld(RatesFile& file) {
    DWORD bodyLength = 0;
    long status = ReadRatesHeader(file, &bodyLength);
    if (status != kCopyOk) return status;
    HeapBlock body(static_cast<BYTE*>(HeapAlloc(GetProcessHeap(), 0, bodyLength + 2)));
    status = ReadRatesBody(file, body.Get(), bodyLength);
    SyncDbInfo info;
    if (status == kCopyOk) status = FindDatabase(&info);
    if (status != kCopyOk) return status;

    BYTE database = 0;
    bool opened = false;
    status = PrepareDatabase(info, &database, &opened);
    if (!opened) return status;
    if (status == kCopyOk) status = WriteRatesRecord(database, body.Get(), bodyLength);
    Report("closing database");
    SyncCloseDatabase(database);
    return status;
}

// The header's magic, and how long the body after it is.
long ConduitSync::ReadRatesHeader(RatesFile& file, DWORD* bodyLength) {
    DWORD sizeHigh = 0;
    DWORD size = GetFileSize(file.handle, &sizeHigh);
    bool sizeKnown = !(size == INVALID_FILE_SIZE && GetLastError() != NO_ERROR);
    BYTE header[kHeaderSize] = {};
    DWORD headerRead = 0;
    if (!ReadFile(file.handle, header, kHeaderSize, &headerRead, nullptr)) headerRead = 0;
    // Shorter than header and count is damaged too: copied, it would leave the handheld no rates.
    bool tooShort = sizeKnown && sizeHigh == 0 && size < kHeaderSize + kCountSize;
    if (headerRead == 0 || !IsRatesMagic(header) || tooShort) {
        Report("invalid local DBheader");
        return kCopyBadHeader;
    }
    if (!sizeKnown) {
        Report("bytes read not enough");
        return kCopyLocalFailed;
    }
    *bodyLength = size > headerRead ? size - headerRead : 0;
    // One record cannot hold more: refuse before the handheld is touched.
    if (sizeHigh != 0 || *bodyLength > kMaxRecordBytes) {
        Report("rates too large for the handheld record");
        return kCopyWriteFailed;
    }
    return kCopyOk;
}

long ConduitSync::ReadRatesBody(RatesFile& file, BYTE* body, DWORD bodyLength) {
    DWORD bodyRead = 0;
    if (body && ReadFile(file.handle, body, bodyLength, &bodyRead, nullptr) &&
        bodyRead == bodyLength)
        return kCopyOk;
    Report("bytes read not enough");
    return kCopyLocalFailed;
}

long ConduitSync::FindDatabase(SyncDbInfo* info) {
    Report("searching palm database");
    SyncSearchParams search;
    ZeroMemory(&search, sizeof(search));
    search.optionFlags = kSearchOptionFlags;
    search.searchFlags = kSearchFlags;
    search.type = FourCharCode("CURR");
    search.creator = FourCharCode("ZLVD");
    ZeroMemory(info, sizeof(*info));
    long found = SyncFindDbByTypeCreator(&search, info);
    if (found != 0) {
        Report(SearchErrorText(found));
        return kCopyNotFound;
    }
    info->name[sizeof(info->name) - 1] = 0;
    return kCopyOk;
}

// The database the search found, emptied; created only when it is there but cannot be opened.
long ConduitSync::PrepareDatabase(const SyncDbInfo& info, BYTE* database, bool* opened) {
    Report("opening database");
    if (SyncOpenDatabase(info.name, info.cardNo, database, kOpenModeReadWrite) == 0) {
        *opened = true;
        Report("clearing handheld database");
        // Old rates left beside the new record would stay on the handheld with them, and the
        // file would be gone: write only into an emptied database.
        return SyncDeleteAllRecords(*database) == 0 ? kCopyOk : kCopyWriteFailed;
    }
    Report("open error, creating...");
    SyncCreateDbBlock create;
    ZeroMemory(&create, sizeof(create));
    create.creator = FourCharCode("ZLVD");
    lstrcpynA(create.name, kDatabaseName, sizeof(create.name));
    create.type = FourCharCode("CURR");
    if (SyncCreateDatabase(&create) != 0) return kCopyWriteFailed;
    *opened = true;
    *database = create.handle;
    return kCopyOk;
}

long ConduitSync::WriteRatesRecord(BYTE database, BYTE* body, DWORD bodyLength) {
    Report("updating currencies");
    SyncRecordBlock record;
    ZeroMemory(&record, sizeof(record));
    record.handle = database;
    record.attributes = kRecordModified;
    record.size = bodyLength;
    record.byteCount = static_cast<WORD>(bodyLength);
    record.data = body;
    return SyncWriteRecord(&record) == 0 ? kCopyOk : kCopyWriteFailed;
}
