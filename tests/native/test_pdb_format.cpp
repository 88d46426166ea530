// Palm database files as the handheld stand-in writes them and zlvtool reads them.
#include <gtest/gtest.h>

#include "palmdb/pdb_format.h"

namespace {

pdb::Database Sample() {
    pdb::Database db;
    db.name = "ZLV Currencies";
    memcpy(db.type, "CURR", 4);
    memcpy(db.creator, "ZLVD", 4);
    db.version = 3;
    db.created = pdb::PalmTime(1700000000);
    db.modified = pdb::PalmTime(1700000100);
    db.modificationNumber = 7;
    db.uniqueIdSeed = 2;
    pdb::Record a;
    a.attributes = 0x40;
    a.uniqueId = 0x123456;
    a.data = {'0', '0', '0', '1', 0, 'U', 'S', 'D', 0};
    pdb::Record empty;
    empty.uniqueId = 2;
    db.records = {a, empty};
    return db;
}

TEST(PdbFormat, LayoutIsTheStandardOne) {
    std::vector<uint8_t> bytes = pdb::Serialize(Sample());
    ASSERT_EQ(bytes.size(), 78u + 2 * 8 + 2 + 9);
    EXPECT_STREQ(reinterpret_cast<const char*>(bytes.data()), "ZLV Currencies");
    EXPECT_EQ(pdb::Get16(&bytes[34]), 3);                         // version
    EXPECT_EQ(pdb::Get32(&bytes[36]), 1700000000u + 2082844800u); // created, 1904 epoch
    EXPECT_EQ(std::string(bytes.begin() + 60, bytes.begin() + 64), "CURR");
    EXPECT_EQ(std::string(bytes.begin() + 64, bytes.begin() + 68), "ZLVD");
    EXPECT_EQ(pdb::Get16(&bytes[76]), 2);   // record count
    EXPECT_EQ(pdb::Get32(&bytes[78]), 96u); // first record after the entries and the gap
    EXPECT_EQ(bytes[82], 0x40);             // attributes
    EXPECT_EQ(bytes[83], 0x12);             // unique id, big-endian 24 bits
    EXPECT_EQ(bytes[85], 0x56);
    EXPECT_EQ(pdb::Get32(&bytes[86]), 105u); // the empty record ends the file
    EXPECT_EQ(bytes[96 + 5], 'U');
}

TEST(PdbFormat, RoundTripKeepsEveryField) {
    pdb::Database in = Sample();
    std::vector<uint8_t> bytes = pdb::Serialize(in);
    pdb::Database out;
    std::string error;
    ASSERT_TRUE(pdb::Parse(bytes.data(), bytes.size(), &out, &error)) << error;
    EXPECT_EQ(out.name, in.name);
    EXPECT_EQ(out.version, 3);
    EXPECT_EQ(out.created, in.created);
    EXPECT_EQ(out.modified, in.modified);
    EXPECT_EQ(out.modificationNumber, 7u);
    EXPECT_EQ(out.uniqueIdSeed, 2u);
    ASSERT_EQ(out.records.size(), 2u);
    EXPECT_EQ(out.records[0].data, in.records[0].data);
    EXPECT_EQ(out.records[0].uniqueId, 0x123456u);
    EXPECT_EQ(out.records[0].attributes, 0x40);
    EXPECT_TRUE(out.records[1].data.empty());
    EXPECT_EQ(pdb::UnixTime(out.created), 1700000000);
}

TEST(PdbFormat, DamagedFilesAreRefusedNotOverread) {
    std::vector<uint8_t> good = pdb::Serialize(Sample());
    pdb::Database db;
    std::string error;

    // Every truncation inside the header or the record list is refused.
    for (size_t n = 0; n < 78 + 16; ++n)
        EXPECT_FALSE(pdb::Parse(good.data(), n, &db, &error)) << n;

    std::vector<uint8_t> bad = good;
    memset(bad.data(), 'A', 32); // name without its terminator
    EXPECT_FALSE(pdb::ParseHeader(bad.data(), bad.size(), &db, &error));

    auto refused = [&](size_t at, uint8_t value) {
        bad = good;
        bad[at] = value;
        return !pdb::Parse(bad.data(), bad.size(), &db, &error);
    };
    EXPECT_TRUE(refused(76, 0xFF)) << "more entries than the file holds";
    EXPECT_TRUE(refused(78 + 3, 0xFF)) << "first offset past the end";
    EXPECT_TRUE(refused(78 + 3, 50)) << "first offset inside the header";
    EXPECT_TRUE(refused(86 + 3, 96 - 1)) << "offsets going backwards";
    EXPECT_TRUE(refused(75, 1)) << "a chained record list";
}

TEST(PdbFormat, EmptyDatabaseAndLongName) {
    pdb::Database db;
    db.name = std::string(40, 'n'); // cut to 31 characters and a terminator
    std::vector<uint8_t> bytes = pdb::Serialize(db);
    EXPECT_EQ(bytes.size(), 80u);
    pdb::Database out;
    std::string error;
    ASSERT_TRUE(pdb::Parse(bytes.data(), bytes.size(), &out, &error)) << error;
    EXPECT_EQ(out.name, std::string(31, 'n'));
    EXPECT_TRUE(out.records.empty());
}

TEST(PdbFormat, FourCharacterCodesPutTheFirstCharacterOnTop) {
    EXPECT_EQ(pdb::Code("CURR"), 0x43555252u);
    EXPECT_EQ(pdb::Code("ZLVD"), 0x5A4C5644u);
}

} // namespace
