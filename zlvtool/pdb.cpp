// zlvtool pdb FILE: a handheld database file's header and records; the rates inside a
// "ZLV Currencies" record are shown line by line.
// zlvtool pdb --from-rates RATES_FILE OUT.pdb: the "ZLV Currencies" database a HotSync would
// leave on the handheld, for people who sync with pilot-link instead of the HotSync Manager.
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <algorithm>
#include <string>
#include <vector>

#include "agent/update/rates_format.h"
#include "palmdb/pdb_format.h"
#include "zlvtool/commands.h"
#include "zlvtool/rates_pdb.h"
#include "zlvtool/whole_file.h"

namespace {

std::string PalmDate(uint32_t palmTime) {
    if (palmTime == 0) return "never";
    time_t t = time_t(pdb::UnixTime(palmTime));
    struct tm utc;
    if (!gmtime_r(&t, &utc)) return "?";
    char text[32];
    strftime(text, sizeof(text), "%Y-%m-%d %H:%M:%S UTC", &utc);
    return text;
}

std::string Printable(const uint8_t* p, size_t n) {
    std::string out;
    for (size_t i = 0; i < n; ++i) {
        uint8_t c = p[i];
        if (c == '\\')
            out += "\\\\";
        else if (c == '\r')
            out += "\\r";
        else if (c == '\t')
            out += "\\t";
        else if (c >= 0x20 && c < 0x7F)
            out += char(c);
        else {
            char esc[8];
            snprintf(esc, sizeof(esc), "\\x%02x", c);
            out += esc;
        }
    }
    return out;
}

void HexDump(const std::vector<uint8_t>& data) {
    const size_t limit = 256;
    for (size_t row = 0; row < data.size() && row < limit; row += 16) {
        printf("    %04zx ", row);
        for (size_t i = row; i < row + 16; ++i) {
            if (i < data.size())
                printf(" %02x", data[i]);
            else
                printf("   ");
        }
        printf("  |%s|\n", Printable(&data[row], std::min<size_t>(16, data.size() - row)).c_str());
    }
    if (data.size() > limit) printf("    ... %zu more bytes\n", data.size() - limit);
}

// The count field ("%04d" and a zero), then zero-terminated texts: the first two fields of a
// line share one text, every further field has its own. With a steady number of fields per line
// the texts are grouped back into lines.
void PrintRates(const std::vector<uint8_t>& data) {
    if (data.size() < 5 || data[4] != 0) {
        printf("    not a rates record: no line count\n");
        HexDump(data);
        return;
    }
    std::string countText(data.begin(), data.begin() + 4);
    long count = strtol(countText.c_str(), nullptr, 10);
    std::vector<std::string> texts;
    bool unterminated = false;
    size_t start = 5;
    for (size_t i = 5; i < data.size(); ++i) {
        if (data[i] != 0) continue;
        texts.push_back(Printable(&data[start], i - start));
        start = i + 1;
    }
    if (start < data.size()) {
        texts.push_back(Printable(&data[start], data.size() - start));
        unterminated = true;
    }
    printf("    rates: %s lines, %zu texts\n", Printable(data.data(), 4).c_str(), texts.size());
    size_t perLine = count > 0 && texts.size() % size_t(count) == 0 ? texts.size() / count : 1;
    for (size_t i = 0; i < texts.size(); i += perLine) {
        std::string line;
        for (size_t j = i; j < i + perLine; ++j)
            line += (j > i ? " | " : "") + texts[j];
        printf("    %s\n", line.c_str());
    }
    if (unterminated) printf("    (the last text has no terminator)\n");
}

bool ReadWhole(const char* path, std::vector<uint8_t>* bytes) {
    FILE* f = fopen(path, "rb");
    if (!f) return false;
    uint8_t chunk[65536];
    size_t n;
    while ((n = fread(chunk, 1, sizeof(chunk), f)) > 0)
        bytes->insert(bytes->end(), chunk, chunk + n);
    bool ok = !ferror(f);
    fclose(f);
    return ok;
}

// The file is whole or absent: written beside its name and renamed.
int FromRates(const char* ratesPath, const char* outPath) {
    std::vector<uint8_t> rates;
    if (!ReadWhole(ratesPath, &rates)) {
        fprintf(stderr, "zlvtool pdb: cannot read %s\n", ratesPath);
        return 1;
    }
    std::vector<uint8_t> out;
    std::string problem;
    if (!MakeRatesPdb(rates.data(), rates.size(), &out, &problem)) {
        fprintf(stderr, "zlvtool pdb: %s: %s\n", ratesPath, problem.c_str());
        return 1;
    }
    WholeFile file = {outPath, out.data(), out.size()};
    if (WriteWholeFiles(&file, 1)) {
        fprintf(stderr, "zlvtool pdb: cannot write %s: %s\n", outPath, strerror(errno));
        return 1;
    }
    printf("%s: \"ZLV Currencies\", one record of %zu bytes\n", outPath,
           rates.size() > kRatesHeaderSize ? rates.size() - kRatesHeaderSize : 0);
    return 0;
}

} // namespace

int PdbCommand(int argc, char** argv) {
    if (argc == 3 && strcmp(argv[0], "--from-rates") == 0) return FromRates(argv[1], argv[2]);
    if (argc != 1) {
        fprintf(stderr,
                "usage: zlvtool pdb FILE\n       zlvtool pdb --from-rates RATES_FILE OUT.pdb\n");
        return 2;
    }
    std::vector<uint8_t> bytes;
    if (!ReadWhole(argv[0], &bytes)) {
        fprintf(stderr, "zlvtool pdb: cannot open %s\n", argv[0]);
        return 1;
    }

    pdb::Database db;
    std::string error;
    if (!pdb::Parse(bytes.data(), bytes.size(), &db, &error)) {
        fprintf(stderr, "zlvtool pdb: %s: %s\n", argv[0], error.c_str());
        return 1;
    }
    printf("name: %s\n",
           Printable(reinterpret_cast<const uint8_t*>(db.name.data()), db.name.size()).c_str());
    printf("type: %s\ncreator: %s\n",
           Printable(reinterpret_cast<const uint8_t*>(db.type), 4).c_str(),
           Printable(reinterpret_cast<const uint8_t*>(db.creator), 4).c_str());
    printf("attributes: 0x%04x\nversion: %u\n", db.attributes, db.version);
    printf("created: %s\nmodified: %s\nbacked up: %s\n", PalmDate(db.created).c_str(),
           PalmDate(db.modified).c_str(), PalmDate(db.backedUp).c_str());
    printf("modification number: %u\nunique id seed: %u\n", db.modificationNumber, db.uniqueIdSeed);
    printf("records: %zu\n", db.records.size());
    bool rates = db.name == "ZLV Currencies";
    for (size_t i = 0; i < db.records.size(); ++i) {
        const pdb::Record& r = db.records[i];
        printf("record %zu: %zu bytes, attributes 0x%02x, category %u, unique id %u\n", i,
               r.data.size(), r.attributes & 0xF0, r.attributes & 0x0F, r.uniqueId);
        if (rates)
            PrintRates(r.data);
        else
            HexDump(r.data);
    }
    return 0;
}
