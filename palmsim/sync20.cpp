// Sync Manager stand-in: the handheld is a folder of .pdb files (ZLV_HANDHELD_DIR, else "handheld"
// beside this library). Every change is saved at once, through a temporary file.
// Test switches: ZLV_SYNC_FAIL="role=code,..." (roles register, unregister, find, open, create,
// close, write, purge, or the ordinals) and ZLV_SYNC_LOG=file for a line per call.
// The blocks are read at their byte offsets, not through the conduit's structures, so a layout
// mistake on either side shows up.
#include <windows.h>
#include <time.h>

#include <map>
#include <string>
#include <vector>

#include "palmsim/palmsim.h"
#include "palmsim/pdb_format.h"

namespace {

// Codes of this stand-in; the conduit knows only that they are not 0.
enum : long {
    kOk = 0,
    kNotFound = 0x4005,
    kExists = 0x4006,
    kDamaged = 0x4008,
    kBadArgument = 0x400F,
    kTooManyOpen = 0x4011,
    kNotOpen = 0x4012,
    kStorage = 0x4015,
};

const char kFail[] = "ZLV_SYNC_FAIL";
const char kLog[] = "ZLV_SYNC_LOG";

HMODULE g_module;
DWORD g_nextConnection = 1;

struct OpenDatabase {
    std::string path;
    pdb::Database db;
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

std::string HandheldFolder() {
    std::string dir = palmsim::Env("ZLV_HANDHELD_DIR");
    if (dir.empty()) {
        char path[MAX_PATH];
        DWORD n = GetModuleFileNameA(g_module, path, sizeof(path));
        std::string self(path, n);
        dir = self.substr(0, self.find_last_of('\\') + 1) + "handheld";
    }
    CreateDirectoryA(dir.c_str(), nullptr);
    return dir;
}

bool ReadWhole(const std::string& path, std::vector<uint8_t>* bytes) {
    HANDLE f = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                           nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    DWORD size = GetFileSize(f, nullptr);
    bool ok = size != INVALID_FILE_SIZE;
    if (ok) {
        bytes->resize(size);
        DWORD got = 0;
        ok = size == 0 || (ReadFile(f, bytes->data(), size, &got, nullptr) && got == size);
    }
    CloseHandle(f);
    return ok;
}

bool Save(const OpenDatabase& open) {
    std::vector<uint8_t> bytes = pdb::Serialize(open.db);
    std::string temp = open.path + ".tmp";
    HANDLE f = CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    DWORD wrote = 0;
    bool ok =
        WriteFile(f, bytes.data(), DWORD(bytes.size()), &wrote, nullptr) && wrote == bytes.size();
    CloseHandle(f);
    if (ok) ok = MoveFileExA(temp.c_str(), open.path.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
    if (!ok) DeleteFileA(temp.c_str());
    return ok;
}

struct Found {
    std::string path;
    bool intact = false;
    pdb::Database db;
};

// Every database file of the handheld whose header reads; "intact" when the whole file does.
std::vector<Found> Databases() {
    std::vector<Found> all;
    std::string dir = HandheldFolder();
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((dir + "\\*.pdb").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return all;
    do {
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        Found f;
        f.path = dir + "\\" + fd.cFileName;
        std::vector<uint8_t> bytes;
        std::string error;
        if (!ReadWhole(f.path, &bytes)) continue;
        if (!pdb::ParseHeader(bytes.data(), bytes.size(), &f.db, &error)) continue;
        f.intact = pdb::Parse(bytes.data(), bytes.size(), &f.db, &error);
        all.push_back(f);
    } while (FindNextFileA(h, &fd));
    FindClose(h);
    return all;
}

bool Fault(const char* role, int ordinal, long* code) {
    if (!palmsim::InjectedFault(kFail, role, ordinal, code)) return false;
    palmsim::Log(kLog, "%s -> injected %ld", role, *code);
    return true;
}

int FreeHandle() {
    for (int h = 1; h < 256; ++h)
        if (!g_open.count(h)) return h;
    return 0;
}

std::string FileNameFor(const std::string& name) {
    std::string file = name;
    for (char& c : file)
        if (strchr("\\/:*?\"<>|", c) || c < ' ') c = '_';
    return file + ".pdb";
}

uint32_t Now() {
    return pdb::PalmTime(time(nullptr));
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
    long code;
    if (Fault("register", 22, &code)) return code;
    if (!connection) return kBadArgument;
    *connection = g_nextConnection++;
    palmsim::Log(kLog, "register -> %lu", *connection);
    return kOk;
}

extern "C" long WINAPI SyncUnregisterConduit(DWORD connection) {
    long code;
    if (Fault("unregister", 23, &code)) return code;
    palmsim::Log(kLog, "unregister %lu", connection);
    return connection != 0 ? kOk : kBadArgument;
}

extern "C" long WINAPI SyncFindDbByTypeCreator(const BYTE* search, BYTE* info) {
    long code;
    if (Fault("find", 0, &code)) return code;
    if (!search || !info) return kBadArgument;
    uint32_t type = Le32(search + 2), creator = Le32(search + 6);
    palmsim::Log(kLog, "find options=%02x flags=%02x type=%s creator=%s", search[0], search[1],
                 CodeText(type).c_str(), CodeText(creator).c_str());
    for (const Found& f : Databases()) {
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
    long code;
    if (Fault("open", 26, &code)) return code;
    if (!name || !handle) return kBadArgument;
    palmsim::Log(kLog, "open name=%s card=%ld mode=%02x", name, cardNo, mode);
    if (cardNo != 0) return kNotFound;
    for (const Found& f : Databases()) {
        if (f.db.name != name) continue;
        if (!f.intact) return kDamaged;
        int h = FreeHandle();
        if (h == 0) return kTooManyOpen;
        g_open[h] = OpenDatabase{f.path, f.db};
        *handle = BYTE(h);
        return kOk;
    }
    return kNotFound;
}

extern "C" long WINAPI SyncCreateDatabase(BYTE* block) {
    long code;
    if (Fault("create", 27, &code)) return code;
    if (!block) return kBadArgument;
    uint32_t creator = Le32(block + 1), flags = Le32(block + 5), type = Le32(block + 42);
    const char* name = reinterpret_cast<const char*>(block + 10);
    size_t nameLength = strnlen(name, pdb::kNameSize);
    palmsim::Log(kLog, "create name=%.*s type=%s creator=%s flags=%lu card=%u version=%u",
                 int(nameLength), name, CodeText(type).c_str(), CodeText(creator).c_str(),
                 (unsigned long)flags, block[9], Le16(block + 46));
    if (nameLength == 0 || nameLength == pdb::kNameSize || block[9] != 0) return kBadArgument;
    std::string path;
    for (const Found& f : Databases()) {
        if (f.db.name != std::string(name, nameLength)) continue;
        if (f.intact) return kExists;
        path = f.path; // a damaged database of that name is replaced
    }
    int h = FreeHandle();
    if (h == 0) return kTooManyOpen;
    OpenDatabase open;
    open.path = path.empty() ? HandheldFolder() + "\\" + FileNameFor(name) : path;
    open.db.name.assign(name, nameLength);
    open.db.attributes = uint16_t(flags);
    open.db.version = Le16(block + 46);
    open.db.created = open.db.modified = Now();
    for (int i = 0; i < 4; ++i) {
        open.db.type[i] = char(type >> (24 - 8 * i));
        open.db.creator[i] = char(creator >> (24 - 8 * i));
    }
    if (!Save(open)) return kStorage;
    g_open[h] = open;
    block[0] = BYTE(h);
    return kOk;
}

extern "C" long WINAPI SyncCloseDatabase(BYTE handle) {
    long code;
    if (Fault("close", 28, &code)) return code;
    palmsim::Log(kLog, "close %u", handle);
    return g_open.erase(handle) ? kOk : kNotOpen;
}

extern "C" long WINAPI SyncDeleteAllRecords(BYTE handle) {
    long code;
    if (Fault("purge", 41, &code)) return code;
    palmsim::Log(kLog, "purge %u", handle);
    auto it = g_open.find(handle);
    if (it == g_open.end()) return kNotOpen;
    OpenDatabase changed = it->second;
    changed.db.records.clear();
    changed.db.modified = Now();
    changed.db.modificationNumber++;
    if (!Save(changed)) return kStorage;
    it->second = changed;
    return kOk;
}

extern "C" long WINAPI SyncWriteRecord(BYTE* block) {
    long code;
    if (Fault("write", 32, &code)) return code;
    if (!block) return kBadArgument;
    uint32_t id = Le32(block + 1), size = Le32(block + 14);
    uint16_t index = Le16(block + 5), category = Le16(block + 8), count = Le16(block + 18);
    const BYTE* data = reinterpret_cast<const BYTE*>(uintptr_t(Le32(block + 20)));
    palmsim::Log(kLog,
                 "write handle=%u id=%lu index=%u attributes=%02x category=%u size=%lu "
                 "count=%u",
                 block[0], (unsigned long)id, index, block[7], category, (unsigned long)size,
                 count);
    auto it = g_open.find(block[0]);
    if (it == g_open.end()) return kNotOpen;
    // A record longer than its 16-bit byte count would arrive cut short: refuse it.
    if (size != count || (count > 0 && !data) || category > 15) return kBadArgument;
    OpenDatabase changed = it->second;
    pdb::Record record;
    record.attributes = BYTE((block[7] & 0xF0) | category);
    record.data.assign(data, data + count);
    if (id == 0) {
        changed.db.uniqueIdSeed = (changed.db.uniqueIdSeed + 1) & 0xFFFFFF;
        if (changed.db.uniqueIdSeed == 0) changed.db.uniqueIdSeed = 1;
        record.uniqueId = changed.db.uniqueIdSeed;
        changed.db.records.push_back(record);
    } else {
        bool replaced = false;
        for (pdb::Record& r : changed.db.records)
            if (r.uniqueId == id) {
                record.uniqueId = id;
                r = record;
                replaced = true;
            }
        if (!replaced) return kNotFound;
    }
    changed.db.modified = Now();
    changed.db.modificationNumber++;
    if (!Save(changed)) return kStorage;
    it->second = changed;
    PutLe32(block + 1, record.uniqueId);
    return kOk;
}
