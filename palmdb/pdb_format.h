// Palm database files (.pdb): the 78-byte header, 8-byte record entries and the record data, all
// numbers big-endian, times in seconds since 1904-01-01. No Windows needed: used by the handheld
// stand-in, zlvtool and the tests.
#pragma once
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

namespace pdb {

enum : size_t { kHeaderSize = 78, kEntrySize = 8, kNameSize = 32 };
// Seconds from 1904-01-01 to 1970-01-01.
const uint32_t kPalmEpochOffset = 2082844800u;

struct Record {
    uint8_t attributes = 0;
    uint32_t uniqueId = 0; // 24 bits
    std::vector<uint8_t> data;
};

struct Database {
    std::string name; // at most 31 characters
    uint16_t attributes = 0;
    uint16_t version = 0;
    uint32_t created = 0; // Palm times
    uint32_t modified = 0;
    uint32_t backedUp = 0;
    uint32_t modificationNumber = 0;
    uint32_t appInfo = 0; // offsets; kept as read, never followed
    uint32_t sortInfo = 0;
    char type[4] = {0, 0, 0, 0};
    char creator[4] = {0, 0, 0, 0};
    uint32_t uniqueIdSeed = 0;
    std::vector<Record> records;
};

inline uint32_t Get32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}
inline uint16_t Get16(const uint8_t* p) {
    return uint16_t(p[0] << 8 | p[1]);
}
inline void Put32(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(uint8_t(v >> 24));
    out.push_back(uint8_t(v >> 16));
    out.push_back(uint8_t(v >> 8));
    out.push_back(uint8_t(v));
}
inline void Put16(std::vector<uint8_t>& out, uint16_t v) {
    out.push_back(uint8_t(v >> 8));
    out.push_back(uint8_t(v));
}

// A four-character code as the handheld compares it: first character in the top byte.
inline uint32_t Code(const char* four) {
    return Get32(reinterpret_cast<const uint8_t*>(four));
}

inline uint32_t PalmTime(int64_t unixTime) {
    return uint32_t(unixTime + kPalmEpochOffset);
}
inline int64_t UnixTime(uint32_t palmTime) {
    return int64_t(palmTime) - kPalmEpochOffset;
}

// Reads only the header: enough to find a database by name, type or creator.
inline bool ParseHeader(const uint8_t* data, size_t size, Database* db, std::string* error) {
    if (size < kHeaderSize) {
        *error = "shorter than a database header";
        return false;
    }
    size_t nameLength = strnlen(reinterpret_cast<const char*>(data), kNameSize);
    if (nameLength == kNameSize) {
        *error = "database name not terminated";
        return false;
    }
    db->name.assign(reinterpret_cast<const char*>(data), nameLength);
    db->attributes = Get16(data + 32);
    db->version = Get16(data + 34);
    db->created = Get32(data + 36);
    db->modified = Get32(data + 40);
    db->backedUp = Get32(data + 44);
    db->modificationNumber = Get32(data + 48);
    db->appInfo = Get32(data + 52);
    db->sortInfo = Get32(data + 56);
    memcpy(db->type, data + 60, 4);
    memcpy(db->creator, data + 64, 4);
    db->uniqueIdSeed = Get32(data + 68);
    db->records.clear();
    return true;
}

// The whole file. Record data runs from its offset to the next record's offset (the last one
// to the end of the file); offsets must rise and stay inside the file.
inline bool Parse(const uint8_t* data, size_t size, Database* db, std::string* error) {
    if (!ParseHeader(data, size, db, error)) return false;
    if (Get32(data + 72) != 0) {
        *error = "chained record lists are not supported";
        return false;
    }
    size_t count = Get16(data + 76);
    size_t listEnd = kHeaderSize + count * kEntrySize;
    if (listEnd > size) {
        *error = "record list runs past the end of the file";
        return false;
    }
    std::vector<uint32_t> offsets(count);
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* entry = data + kHeaderSize + i * kEntrySize;
        offsets[i] = Get32(entry);
        if (offsets[i] < listEnd || offsets[i] > size || (i > 0 && offsets[i] < offsets[i - 1])) {
            *error = "record " + std::to_string(i) + " has a bad offset";
            return false;
        }
    }
    db->records.resize(count);
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* entry = data + kHeaderSize + i * kEntrySize;
        Record& r = db->records[i];
        r.attributes = entry[4];
        r.uniqueId = uint32_t(entry[5]) << 16 | uint32_t(entry[6]) << 8 | entry[7];
        size_t end = i + 1 < count ? offsets[i + 1] : size;
        r.data.assign(data + offsets[i], data + end);
    }
    return true;
}

// The usual layout: header, entries, two zero bytes, then the records in order.
inline std::vector<uint8_t> Serialize(const Database& db) {
    std::vector<uint8_t> out;
    char name[kNameSize] = {};
    memcpy(name, db.name.data(), db.name.size() < kNameSize ? db.name.size() : kNameSize - 1);
    out.insert(out.end(), name, name + kNameSize);
    Put16(out, db.attributes);
    Put16(out, db.version);
    Put32(out, db.created);
    Put32(out, db.modified);
    Put32(out, db.backedUp);
    Put32(out, db.modificationNumber);
    Put32(out, 0); // no application info block
    Put32(out, 0); // no sort info block
    out.insert(out.end(), db.type, db.type + 4);
    out.insert(out.end(), db.creator, db.creator + 4);
    Put32(out, db.uniqueIdSeed);
    Put32(out, 0);
    Put16(out, uint16_t(db.records.size()));
    uint32_t offset = uint32_t(kHeaderSize + db.records.size() * kEntrySize + 2);
    for (const Record& r : db.records) {
        Put32(out, offset);
        out.push_back(r.attributes);
        out.push_back(uint8_t(r.uniqueId >> 16));
        out.push_back(uint8_t(r.uniqueId >> 8));
        out.push_back(uint8_t(r.uniqueId));
        offset += uint32_t(r.data.size());
    }
    Put16(out, 0);
    for (const Record& r : db.records)
        out.insert(out.end(), r.data.begin(), r.data.end());
    return out;
}

} // namespace pdb
