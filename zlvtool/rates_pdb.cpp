#include "zlvtool/rates_pdb.h"

#include <string.h>

#include "agent/update/rates_format.h"
#include "palmdb/pdb_format.h"

bool MakeRatesPdb(const uint8_t* rates, size_t size, std::vector<uint8_t>* pdb,
                  std::string* problem) {
    if (!RatesMagicOk(rates, size)) {
        *problem = "not a rates file (no \"kelpo\" header)";
        return false;
    }
    // A header cut short still counts, as in the conduit: the missing bytes read as zero.
    const size_t headerSize = kRatesHeaderSize;
    uint8_t header[headerSize] = {};
    memcpy(header, rates, size < headerSize ? size : headerSize);
    size_t body = size > headerSize ? size - headerSize : 0;
    if (body > kRatesBodyLimit) {
        *problem = std::to_string(body) + " bytes of rates do not fit one handheld record";
        return false;
    }
    int32_t written = int32_t(uint32_t(header[8]) | uint32_t(header[9]) << 8 |
                              uint32_t(header[10]) << 16 | uint32_t(header[11]) << 24);

    pdb::Database db;
    db.name = "ZLV Currencies";
    memcpy(db.type, "CURR", 4);
    memcpy(db.creator, "ZLVD", 4);
    db.attributes = 0x0008; // backup bit: a HotSync keeps a copy on the desktop
    db.created = db.modified = pdb::PalmTime(written > 0 ? written : 0);
    db.uniqueIdSeed = 1;
    pdb::Record record;
    record.attributes = 0x40; // modified, as the conduit writes it
    record.uniqueId = 1;
    if (body) record.data.assign(rates + headerSize, rates + size);
    db.records.push_back(record);
    *pdb = pdb::Serialize(db);
    return true;
}
