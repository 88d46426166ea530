// Sync Manager stand-in. It keeps a real library's rules and refuses, with a non-zero code and a
// "refused" line in the call log, what a real one would: any call without a registered
// connection, unregistering a connection it did not hand out, opening a database twice, writing
// through a handle opened without write mode. PalmSimEndHotSync, called by the host after
// OpenConduit returns, reports a database left open or a connection never unregistered.
// Test switches: ZLV_SYNC_FAIL="role=code,..." (roles register, unregister, find, open, create,
// close, write, purge, or the ordinals), ZLV_SYNC_LOG=file for a line per call, and
// ZLV_SYNC_PAUSE=role to hold that call until the test has done its part.
// The blocks are read at their byte offsets, not through the conduit's structures, and logged as
// the bytes received, so a layout mistake on either side shows up.
#include <windows.h>
#include <time.h>

#include <map>
#include <string>

#include "palmsim/handheld_store.h"
#include "palmsim/palmsim.h"

namespace {

// Codes of this stand-in; the conduit knows only that they are not 0.
enum : long {
    kOk = 0,
    kNotConnected = 0x400A, // no registered connection: the library's "communication not set up"
    kNotFound = 0x4005,
    kExists = 0x4006,
    kDamaged = 0x4008,
    kBadArgument = 0x400F,
    kAlreadyOpen = 0x4010,
    kTooManyOpen = 0x4011,
    kNotOpen = 0x4012,
    kReadOnly = 0x4014,
    kStorage = 0x4015,
};

// The open mode bit that allows changes; a created database is always open for writing.
const BYTE kModeWrite = 0x40;

const char kFail[] = "ZLV_SYNC_FAIL";
const char kLog[] = "ZLV_SYNC_LOG";
const char kPause[] = "ZLV_SYNC_PAUSE";
const DWORD kPauseLimitMs = 10000;

HMODULE g_module;

// One HotSync's connection. A failed registration leaves no connection, and the calls that then
// fail are the library's failure, not a rule the conduit broke.
enum ConnectionState { kNeverRegistered, kRegistrationFailed, kRegistered, kUnregistered };
ConnectionState g_state = kNeverRegistered;
DWORD g_connection = 0;
DWORD g_nextConnection = 1;
int g_rulesBroken = 0;

struct OpenDatabase {
    std::string path;
    pdb::Database db;
    bool writable;
};
std::map<int, OpenDatabase> g_open;

uint32_t Le32(const BYTE* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24;
}
uint16_t Le16(const BYTE* p) {
    return uint16_t(p[0] | p[1] << 8);
}
void PutLe32(BYTE* p, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = BYTE(v >> (8 * i));
}

std::string CodeText(uint32_t code) {
    char text[5] = {char(code >> 24), char(code >> 16), char(code >> 8), char(code), 0};
    return text;
}

std::string Hex(const BYTE* p, size_t n) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    for (size_t i = 0; i < n; ++i) {
        text += kDigits[p[i] >> 4];
        text += kDigits[p[i] & 15];
    }
    return text;
}

long Refuse(long code, const char* role, const char* why) {
    ++g_rulesBroken;
    palmsim::Log(kLog, "refused %s: %s", role, why);
    return code;
}

// The test holds this call while it acts, as another process would during a HotSync.
void PauseIfAsked(const char* role) {
    if (palmsim::Env(kPause) != role) return;
    HANDLE paused = OpenEventA(EVENT_MODIFY_STATE, FALSE, "zlv_sync_paused");
    HANDLE resume = OpenEventA(SYNCHRONIZE, FALSE, "zlv_sync_resume");
    if (paused && resume) {
        palmsim::Log(kLog, "paused before %s", role);
        SetEvent(paused);
        if (WaitForSingleObject(resume, kPauseLimitMs) != WAIT_OBJECT_0)
            palmsim::Log(kLog, "pause before %s timed out", role);
    }
    if (paused) CloseHandle(paused);
    if (resume) CloseHandle(resume);
}

bool Fault(const char* role, int ordinal, long* code) {
    if (!palmsim::InjectedFault(kFail, role, ordinal, code)) return false;
    palmsim::Log(kLog, "%s -> injected %ld", role, *code);
    return true;
}

long Connected(const char* role) {
    if (g_state == kRegistered) return kOk;
    palmsim::Log(kLog, "refused %s: no connection", role);
    if (g_state != kRegistrationFailed) ++g_rulesBroken;
    return kNotConnected;
}

// Every call but the byte-order conversion: held if asked, refused without a connection, else
// failed if a fault is injected. 0 lets the call go on.
long Enter(const char* role, int ordinal) {
    PauseIfAsked(role);
    if (long code = Connected(role)) return code;
    long code;
    return Fault(role, ordinal, &code) ? code : kOk;
}

int FreeHandle() {
    for (int h = 1; h < 256; ++h)
        if (!g_open.count(h)) return h;
    return 0;
}

bool IsOpen(const std::string& path) {
    for (const auto& open : g_open)
        if (lstrcmpiA(open.second.path.c_str(), path.c_str()) == 0) return true;
    return false;
}

// The open database a change goes to, or the code that refuses it.
long Writable(const char* role, BYTE handle, OpenDatabase** open) {
    auto it = g_open.find(handle);
    if (it == g_open.end()) return Refuse(kNotOpen, role, "handle not open");
    if (!it->second.writable) return Refuse(kReadOnly, role, "handle opened without write mode");
    *open = &it->second;
    return kOk;
}

bool Commit(OpenDatabase* open, const pdb::Database& changed) {
    pdb::Database stamped = changed;
    stamped.modified = pdb::PalmTime(time(nullptr));
    stamped.modificationNumber++;
    if (!palmsim::SaveDatabase(open->path, stamped)) return false;
    open->db = stamped;
    return true;
}

} // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) g_module = instance;
    return TRUE;
}

extern "C" DWORD WINAPI SyncHostToHHDWord(DWORD value) {
    return (value >> 24) | (value >> 8 & 0xFF00) | (value << 8 & 0xFF0000) | (value << 24);
}

extern "C" long WINAPI SyncRegisterConduit(DWORD* connection) {
    PauseIfAsked("register");
    if (g_state == kRegistered) return Refuse(kBadArgument, "register", "already registered");
    long code;
    if (Fault("register", 22, &code) || !connection) {
        g_state = kRegistrationFailed;
        return connection ? code : kBadArgument;
    }
    g_state = kRegistered;
    g_connection = *connection = g_nextConnection++;
    palmsim::Log(kLog, "register -> %lu", *connection);
    return kOk;
}

// A failing unregister still ends the connection: the caller cannot do more than ask.
extern "C" long WINAPI SyncUnregisterConduit(DWORD connection) {
    PauseIfAsked("unregister");
    palmsim::Log(kLog, "unregister %lu", connection);
    if (g_state == kRegistrationFailed) return kNotConnected;
    if (g_state != kRegistered || connection != g_connection)
        return Refuse(kBadArgument, "unregister", "not a registered connection");
    g_state = kUnregistered;
    g_connection = 0;
    long code;
    return Fault("unregister", 23, &code) ? code : kOk;
}

extern "C" long WINAPI SyncFindDbByTypeCreator(const BYTE* search, BYTE* info) {
    if (long code = Enter("find", 0)) return code;
    if (!search || !info) return kBadArgument;
    uint32_t type = Le32(search + 2), creator = Le32(search + 6);
    palmsim::Log(kLog, "find options=%02x flags=%02x type=%s creator=%s bytes=%s", search[0],
                 search[1], CodeText(type).c_str(), CodeText(creator).c_str(),
                 Hex(search, 10).c_str());
    for (const palmsim::StoredDatabase& f : palmsim::StoredDatabases(g_module)) {
        if (pdb::Code(f.db.type) != type || pdb::Code(f.db.creator) != creator) continue;
        // Card number, attributes, version, name, type, creator, record count.
        PutLe32(info, 0);
        info[4] = BYTE(f.db.attributes);
        info[5] = BYTE(f.db.attributes >> 8);
        info[6] = BYTE(f.db.version);
        info[7] = BYTE(f.db.version >> 8);
        memset(info + 10, 0, pdb::kNameSize);
        memcpy(info + 10, f.db.name.data(), f.db.name.size());
        PutLe32(info + 42, type);
        PutLe32(info + 46, creator);
        info[50] = BYTE(f.db.records.size());
        info[51] = BYTE(f.db.records.size() >> 8);
        return kOk;
    }
    return kNotFound;
}

extern "C" long WINAPI SyncOpenDatabase(const char* name, long cardNo, BYTE* handle, BYTE mode) {
    if (long code = Enter("open", 26)) return code;
    if (!name || !handle) return kBadArgument;
    palmsim::Log(kLog, "open name=%s card=%ld mode=%02x", name, cardNo, mode);
    if (cardNo != 0) return kNotFound;
    for (const palmsim::StoredDatabase& f : palmsim::StoredDatabases(g_module)) {
        if (f.db.name != name) continue;
        if (!f.intact) return kDamaged;
        if (IsOpen(f.path)) return Refuse(kAlreadyOpen, "open", "database already open");
        int h = FreeHandle();
        if (h == 0) return kTooManyOpen;
        g_open[h] = OpenDatabase{f.path, f.db, (mode & kModeWrite) != 0};
        *handle = BYTE(h);
        return kOk;
    }
    return kNotFound;
}

extern "C" long WINAPI SyncCreateDatabase(BYTE* block) {
    if (long code = Enter("create", 27)) return code;
    if (!block) return kBadArgument;
    uint32_t creator = Le32(block + 1), flags = Le32(block + 5), type = Le32(block + 42);
    const char* name = reinterpret_cast<const char*>(block + 10);
    size_t nameLength = strnlen(name, pdb::kNameSize);
    palmsim::Log(kLog, "create name=%.*s type=%s creator=%s flags=%lu card=%u version=%u bytes=%s",
                 int(nameLength), name, CodeText(type).c_str(), CodeText(creator).c_str(),
                 (unsigned long)flags, block[9], Le16(block + 46), Hex(block, 52).c_str());
    if (nameLength == 0 || nameLength == pdb::kNameSize || block[9] != 0) return kBadArgument;
    std::string path;
    for (const palmsim::StoredDatabase& f : palmsim::StoredDatabases(g_module)) {
        if (f.db.name != std::string(name, nameLength)) continue;
        if (f.intact) return kExists;
        if (IsOpen(f.path)) return Refuse(kAlreadyOpen, "create", "database already open");
        path = f.path; // a damaged database of that name is replaced
    }
    int h = FreeHandle();
    if (h == 0) return kTooManyOpen;
    OpenDatabase open;
    open.path = path.empty() ? palmsim::PathForNew(g_module, std::string(name, nameLength)) : path;
    open.writable = true;
    open.db.name.assign(name, nameLength);
    open.db.attributes = uint16_t(flags);
    open.db.version = Le16(block + 46);
    open.db.created = open.db.modified = pdb::PalmTime(time(nullptr));
    for (int i = 0; i < 4; ++i) {
        open.db.type[i] = char(type >> (24 - 8 * i));
        open.db.creator[i] = char(creator >> (24 - 8 * i));
    }
    if (!palmsim::SaveDatabase(open.path, open.db)) return kStorage;
    g_open[h] = open;
    block[0] = BYTE(h);
    return kOk;
}

// Like unregister, a failing close still gives the handle back.
extern "C" long WINAPI SyncCloseDatabase(BYTE handle) {
    PauseIfAsked("close");
    if (long code = Connected("close")) return code;
    palmsim::Log(kLog, "close %u", handle);
    if (!g_open.erase(handle)) return Refuse(kNotOpen, "close", "handle not open");
    long code;
    return Fault("close", 28, &code) ? code : kOk;
}

extern "C" long WINAPI SyncDeleteAllRecords(BYTE handle) {
    if (long code = Enter("purge", 41)) return code;
    palmsim::Log(kLog, "purge %u", handle);
    OpenDatabase* open = nullptr;
    if (long code = Writable("purge", handle, &open)) return code;
    pdb::Database changed = open->db;
    changed.records.clear();
    return Commit(open, changed) ? kOk : kStorage;
}

// The record block holds the data's address at byte 20: four bytes in the 32-bit layout of the
// real Sync Manager, a full pointer in the 64-bit test build, then four reserved bytes.
const size_t kRecordDataAt = 20;
const size_t kRecordBlockSize = kRecordDataAt + sizeof(void*) + 4;

extern "C" long WINAPI SyncWriteRecord(BYTE* block) {
    if (long code = Enter("write", 32)) return code;
    if (!block) return kBadArgument;
    uint32_t id = Le32(block + 1), size = Le32(block + 14);
    uint16_t index = Le16(block + 5), category = Le16(block + 8), count = Le16(block + 18);
    const BYTE* data = nullptr;
    memcpy(&data, block + kRecordDataAt, sizeof data);
    palmsim::Log(kLog,
                 "write handle=%u id=%lu index=%u attributes=%02x category=%u size=%lu "
                 "count=%u bytes=%s",
                 block[0], (unsigned long)id, index, block[7], category, (unsigned long)size, count,
                 Hex(block, kRecordBlockSize).c_str());
    OpenDatabase* open = nullptr;
    if (long code = Writable("write", block[0], &open)) return code;
    // A record longer than its 16-bit byte count would arrive cut short: refuse it.
    if (size != count || (count > 0 && !data) || category > 15) return kBadArgument;
    pdb::Database changed = open->db;
    pdb::Record record;
    record.attributes = BYTE((block[7] & 0xF0) | category);
    record.data.assign(data, data + count);
    if (id == 0) {
        changed.uniqueIdSeed = (changed.uniqueIdSeed + 1) & 0xFFFFFF;
        if (changed.uniqueIdSeed == 0) changed.uniqueIdSeed = 1;
        record.uniqueId = changed.uniqueIdSeed;
        changed.records.push_back(record);
    } else {
        bool replaced = false;
        for (pdb::Record& r : changed.records)
            if (r.uniqueId == id) {
                record.uniqueId = id;
                r = record;
                replaced = true;
            }
        if (!replaced) return kNotFound;
    }
    if (!Commit(open, changed)) return kStorage;
    PutLe32(block + 1, record.uniqueId);
    return kOk;
}

// Not part of the library it stands in for: the host's check once OpenConduit has returned.
// Counts the rules broken during the HotSync and what it left behind, then starts afresh.
extern "C" long WINAPI PalmSimEndHotSync() {
    for (const auto& open : g_open) {
        palmsim::Log(kLog, "refused end: database %d left open", open.first);
        ++g_rulesBroken;
    }
    if (g_state == kRegistered) {
        palmsim::Log(kLog, "refused end: connection %lu never unregistered", g_connection);
        ++g_rulesBroken;
    }
    long broken = g_rulesBroken;
    g_open.clear();
    g_state = kNeverRegistered;
    g_connection = 0;
    g_rulesBroken = 0;
    return broken;
}
