// Where the conduit may look for the rates file: only in a folder on a drive letter, since any
// other kind of path leads to a host, a device or a folder that "target" does not name.
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "conduit/rates_path.h"

namespace {

std::string Composed(const char* folder, std::string* root = nullptr) {
    RatesLocation location;
    memset(&location, 'x', sizeof location);
    RatesPath result = ComposeRatesPath(folder, &location);
    if (root) *root = location.root;
    if (result == kRatesPathNoFolder) return "(no folder)";
    if (result == kRatesPathTooLong) return "(too long)";
    return location.path;
}

} // namespace

TEST(RatesPath, AFolderOnADriveLetterGetsTheFileName) {
    std::string root;
    EXPECT_EQ("C:\\Users\\ann\\AppData\\Local\\Zelvantic\\mrvrates.zlv",
              Composed("C:\\Users\\ann\\AppData\\Local\\Zelvantic", &root));
    EXPECT_EQ("C:\\", root);
    EXPECT_EQ("d:\\Zelvantic\\mrvrates.zlv", Composed("d:\\Zelvantic\\", &root));
    EXPECT_EQ("d:\\", root);
    EXPECT_EQ("C:\\mrvrates.zlv", Composed("C:\\"));
    // A forward slash separates too; only a final backslash saves adding one.
    EXPECT_EQ("E:/Data\\mrvrates.zlv", Composed("E:/Data", &root));
    EXPECT_EQ("E:\\", root);
}

TEST(RatesPath, EveryOtherKindOfFolderIsNone) {
    const char* const kRefused[] = {
        "\\\\host\\share\\Zelvantic", // UNC: the HotSync would authenticate to that host
        "//host/share/Zelvantic",
        "\\\\.\\pipe\\x", // devices
        "\\\\.\\C:\\Zelvantic",
        "\\\\?\\C:\\Zelvantic",
        "\\\\?\\UNC\\host\\share",
        "\\Zelvantic", // rooted on whatever drive is current
        "C:Zelvantic", // relative to a drive's current folder
        "Zelvantic",   // relative
        "1:\\Zelvantic",
        "C",
        "C:",
        "",
    };
    for (const char* folder : kRefused) {
        std::string root = "unchanged";
        EXPECT_EQ("(no folder)", Composed(folder, &root)) << folder;
        EXPECT_EQ("", root) << folder;
    }
    EXPECT_EQ("(no folder)", Composed(nullptr));
}

TEST(RatesPath, TheWholePathFitsIn128Bytes) {
    // 114 characters of folder, a backslash, 12 of file name and the terminator.
    std::string folder = "C:\\" + std::string(111, 'f');
    EXPECT_EQ(folder + "\\mrvrates.zlv", Composed(folder.c_str()));
    EXPECT_EQ(folder + "\\mrvrates.zlv", Composed((folder + "\\").c_str()));
    EXPECT_EQ("(too long)", Composed((folder + "g").c_str()));
    EXPECT_EQ("(too long)", Composed((folder + "g\\").c_str()));
    EXPECT_EQ("(too long)", Composed(("C:\\" + std::string(300, 'f')).c_str()));
}
