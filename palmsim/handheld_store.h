// The stand-in handheld: a folder of .pdb files (ZLV_HANDHELD_DIR, else "handheld" beside the
// Sync Manager stand-in). Every change is saved at once, through a temporary file.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "palmdb/pdb_format.h"

namespace palmsim {

struct StoredDatabase {
    std::string path;
    bool intact = false; // the whole file reads, not only its header
    pdb::Database db;
};

std::string HandheldFolder(HMODULE standIn);
// Every database file of the handheld whose header reads.
std::vector<StoredDatabase> StoredDatabases(HMODULE standIn);
bool SaveDatabase(const std::string& path, const pdb::Database& db);
// Where a new database of that name is kept.
std::string PathForNew(HMODULE standIn, const std::string& name);

} // namespace palmsim
