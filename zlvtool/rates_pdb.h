// The "ZLV Currencies" database that a HotSync leaves on the handheld for a rates file: one
// record holding everything after the file's 12-byte header. zlvtool pdb --from-rates and zlvtool
// fetch both make it here.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

// False, with what is wrong with the rates file, when it cannot become the database.
bool MakeRatesPdb(const uint8_t* rates, size_t size, std::vector<uint8_t>* pdb,
                  std::string* problem);
