#include <gtest/gtest.h>

#include <string>

#include "agent/update/byte_string.h"

TEST(ByteString, NewAndReleasedStringsAreEmptyWithoutBuffer) {
    ByteString s;
    EXPECT_EQ(0u, s.Length());
    EXPECT_EQ(nullptr, s.CStr());
    s.Release();
    EXPECT_EQ(nullptr, s.CStr());
    EXPECT_EQ(0, s.Capacity());
}

TEST(ByteString, AssignKeepsOldContentForNullAndEmptiesForEmptyText) {
    ByteString s("abcd");
    s.Assign(nullptr);
    EXPECT_STREQ("abcd", s.CStr());
    s.Assign("");
    EXPECT_EQ(0u, s.Length());
    s.Assign("longer text");
    s.Assign("ab");
    EXPECT_STREQ("ab", s.CStr());
    EXPECT_EQ(11, s.Capacity()) << "a shorter text reuses the larger buffer";
}

TEST(ByteString, AppendGrowsFromCapacityExactly) {
    ByteString s;
    s.Reserve(10);
    s.Assign("abcd");
    s.Append("xyz");
    EXPECT_STREQ("abcdxyz", s.CStr());
    EXPECT_EQ(13, s.Capacity());
    s.Append("");
    s.Append(nullptr);
    EXPECT_STREQ("abcdxyz", s.CStr());
    EXPECT_EQ(13, s.Capacity());
}

TEST(ByteString, FormatCutsAt510Characters) {
    ByteString s;
    std::string exact(510, 'x');
    s.Format("%s", exact.c_str());
    EXPECT_EQ(510u, s.Length());
    std::string longer(600, 'y');
    s.Format("%s", longer.c_str());
    EXPECT_EQ(longer.substr(0, 510), s.CStr());
    s.Format("%d-%s", 42, "ok");
    EXPECT_STREQ("42-ok", s.CStr());
    s.Format("%s", "");
    EXPECT_EQ(0u, s.Length());
}

TEST(ByteString, ToLowerOnlyTouchesAsciiCapitals) {
    ByteString s("-SILENT");
    s.ToLower();
    EXPECT_TRUE(s.Equals("-silent"));
    const char high[] = {'A', '\x80', '\xC4', '\xFF', 'Z', 0};
    s.Assign(high);
    s.ToLower();
    EXPECT_STREQ("a\x80\xC4\xFFz", s.CStr());
}

TEST(ByteString, EqualsIsCaseSensitive) {
    ByteString s("-silent");
    EXPECT_TRUE(s.Equals("-silent"));
    EXPECT_FALSE(s.Equals("-Silent"));
    EXPECT_FALSE(s.Equals("-silent "));
    EXPECT_LT(ByteString("a").Compare("b"), 0);
    EXPECT_TRUE(ByteString().Equals(""));
}
