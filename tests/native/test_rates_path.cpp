// Where the conduit may look for the rates file: only in a folder on a drive letter, since any
// other kind of path leads to a host, a device or a folder that "target" does not name.
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "conduit/rates_path.h"

namespace {

std::wstring Composed(const wchar_t* folder, std::wstring* root = nullptr) {
    RatesLocation location;
    memset(&location, 'x', sizeof location);
    RatesPath result = ComposeRatesPath(folder, &location);
    if (root) *root = location.root;
    if (result == kRatesPathNoFolder) return L"(no folder)";
    if (result == kRatesPathTooLong) return L"(too long)";
    return location.path;
}

} // namespace

TEST(RatesPath, AFolderOnADriveLetterGetsTheFileName) {
    std::wstring root;
    EXPECT_EQ(L"C:\\Users\\ann\\AppData\\Local\\Zelvantic\\mrvrates.zlv",
              Composed(L"C:\\Users\\ann\\AppData\\Local\\Zelvantic", &root));
    EXPECT_EQ(L"C:\\", root);
    EXPECT_EQ(L"d:\\Zelvantic\\mrvrates.zlv", Composed(L"d:\\Zelvantic\\", &root));
    EXPECT_EQ(L"d:\\", root);
    EXPECT_EQ(L"C:\\mrvrates.zlv", Composed(L"C:\\"));
    // A forward slash separates too; only a final backslash saves adding one.
    EXPECT_EQ(L"E:/Data\\mrvrates.zlv", Composed(L"E:/Data", &root));
    EXPECT_EQ(L"E:\\", root);
}

TEST(RatesPath, EveryOtherKindOfFolderIsNone) {
    const wchar_t* const kRefused[] = {
        L"\\\\host\\share\\Zelvantic", // UNC: the HotSync would authenticate to that host
        L"//host/share/Zelvantic",
        L"\\\\.\\pipe\\x", // devices
        L"\\\\.\\C:\\Zelvantic",
        L"\\\\?\\C:\\Zelvantic",
        L"\\\\?\\UNC\\host\\share",
        L"\\Zelvantic", // rooted on whatever drive is current
        L"C:Zelvantic", // relative to a drive's current folder
        L"Zelvantic",   // relative
        L"1:\\Zelvantic",
        L"C",
        L"C:",
        L"",
    };
    for (const wchar_t* folder : kRefused) {
        std::wstring root = L"unchanged";
        EXPECT_EQ(L"(no folder)", Composed(folder, &root)) << folder;
        EXPECT_EQ(L"", root) << folder;
    }
    EXPECT_EQ(L"(no folder)", Composed(nullptr));
}

TEST(RatesPath, TheWholePathFitsIn128Characters) {
    // 114 characters of folder, a backslash, 12 of file name and the terminator.
    std::wstring folder = L"C:\\" + std::wstring(111, L'f');
    EXPECT_EQ(folder + L"\\mrvrates.zlv", Composed(folder.c_str()));
    EXPECT_EQ(folder + L"\\mrvrates.zlv", Composed((folder + L"\\").c_str()));
    EXPECT_EQ(L"(too long)", Composed((folder + L"g").c_str()));
    EXPECT_EQ(L"(too long)", Composed((folder + L"g\\").c_str()));
    EXPECT_EQ(L"(too long)", Composed((L"C:\\" + std::wstring(300, L'f')).c_str()));
    // Counted in characters, whatever their letters.
    std::wstring cyrillic = L"C:\\" + std::wstring(111, L'\u0416');
    EXPECT_EQ(cyrillic + L"\\mrvrates.zlv", Composed(cyrillic.c_str()));
    EXPECT_EQ(L"(too long)", Composed((cyrillic + L"\u0416").c_str()));
}
