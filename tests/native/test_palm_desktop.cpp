// Where the agent looks for the user's Conduit Manager: the folder Palm Desktop names in the
// user's registry, on a drive letter, never a bare name or a share.
#include <gtest/gtest.h>

#include <string>

#include "agent/shell/palm_desktop_text.h"

namespace {

std::string Found(const char* path, const char* hotSyncPath, size_t size = 260) {
    char out[600];
    memset(out, 'x', sizeof out);
    bool found = ConduitManagerPath(path, hotSyncPath, out, size);
    EXPECT_EQ(found, out[0] != '\0') << "an answer that is not one leaves the text empty";
    return found ? std::string(out) : std::string("(none)");
}

} // namespace

TEST(PalmDesktop, PathNamesTheFolderWithOrWithoutItsSeparator) {
    struct Case {
        const char* path;
        const char* hotSyncPath;
        const char* expected;
    } cases[] = {
        {"C:\\Palm", nullptr, "C:\\Palm\\condmgr.dll"},
        {"C:\\Palm\\", nullptr, "C:\\Palm\\condmgr.dll"},
        {"C:\\Program Files\\Palm Desktop", nullptr,
         "C:\\Program Files\\Palm Desktop\\condmgr.dll"},
        {"\"C:\\Program Files\\Palm\\\"", nullptr, "C:\\Program Files\\Palm\\condmgr.dll"},
        {"d:/Palm/", nullptr, "d:/Palm\\condmgr.dll"},
        {"C:\\", nullptr, "C:\\condmgr.dll"},
        // "Path" wins; the HotSync Manager's folder serves when "Path" names none.
        {"C:\\Palm", "D:\\Other\\HotSync.exe", "C:\\Palm\\condmgr.dll"},
        {nullptr, "C:\\Palm\\HotSync.exe", "C:\\Palm\\condmgr.dll"},
        {"", "\"C:\\Program Files\\Palm\\HotSync.exe\"", "C:\\Program Files\\Palm\\condmgr.dll"},
        {"Palm", "C:\\Palm\\HotSync.exe", "C:\\Palm\\condmgr.dll"},
        {"C:\\Palm", "", "C:\\Palm\\condmgr.dll"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.expected, Found(c.path, c.hotSyncPath)) << (c.path ? c.path : "(null)");
}

TEST(PalmDesktop, NoFolderOnADriveLetterMeansNoConduitManager) {
    // Relative folders resolve against wherever the agent was started; device names are none;
    // a share's code is whoever's runs that host, in each spelling of it.
    for (const char* folder :
         {"", "Palm", "\\Palm", "C:Palm", "\\\\.\\pipe\\palm", "\\\\?\\C:\\Palm", "\"\"", "\\\\",
          " ", "\\\\server\\palm", "//server/palm", "\"\\\\server\\Palm Desktop\"",
          "\\\\?\\UNC\\server\\palm", "\\\\.\\UNC\\server\\palm", "1:\\Palm", "::\\Palm"})
        EXPECT_EQ("(none)", Found(folder, folder)) << folder;
    EXPECT_EQ("(none)", Found(nullptr, nullptr));
    EXPECT_EQ("(none)", Found(nullptr, "HotSync.exe"));
    EXPECT_EQ("(none)", Found(nullptr, "C:HotSync.exe"));
}

TEST(PalmDesktop, APathThatDoesNotFitIsNoneRatherThanCut) {
    // "C:\Palm\condmgr.dll" is 19 characters and its terminator.
    EXPECT_EQ("C:\\Palm\\condmgr.dll", Found("C:\\Palm", nullptr, 20));
    EXPECT_EQ("(none)", Found("C:\\Palm", nullptr, 19));
    EXPECT_EQ("(none)", Found(nullptr, "C:\\Palm\\HotSync.exe", 19));
    std::string deep = "C:\\" + std::string(300, 'p');
    EXPECT_EQ("(none)", Found(deep.c_str(), nullptr));
}

TEST(PalmDesktop, TheDriveToAskAboutIsTheOneThePathStartsWith) {
    char root[4] = "xyz";
    EXPECT_TRUE(DriveRoot("c:/Palm", root));
    EXPECT_STREQ("c:\\", root);
    EXPECT_TRUE(DriveRoot("D:\\", root));
    EXPECT_STREQ("D:\\", root);
    wchar_t wide[4] = L"xyz";
    EXPECT_TRUE(DriveRoot(L"E:\\\u041f\u0430\u043b\u043c", wide));
    EXPECT_STREQ(L"E:\\", wide);
    for (const char* other : {"\\\\server\\palm", "C:", "C:Palm", "", "\\\\?\\C:\\Palm", "\xc3:\\"})
        EXPECT_FALSE(DriveRoot(other, root)) << other;
    EXPECT_FALSE(DriveRoot(L"\\\\server\\palm", wide));
    EXPECT_FALSE(DriveRoot(static_cast<const char*>(nullptr), root));
}
