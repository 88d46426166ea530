// Paths as the agent holds them between the system's wide calls: every UTF-16 name, its
// unpaired surrogates too, as 8-bit text and back, unchanged; anything else is no path.
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "agent/path/path_text.h"

namespace {

typedef std::basic_string<PathUnit> Units;

std::string Text(const Units& units) {
    char out[64];
    size_t size = ToPathText(units.data(), units.size(), out, sizeof out);
    EXPECT_EQ(size, strlen(out) + 1) << "the size counts the terminator";
    return out;
}

// "(not path text)" when the text is refused.
Units Back(const std::string& text) {
    PathUnit out[64];
    size_t size = ToPathUnits(text.c_str(), out, 64);
    if (size == 0) return u"(not path text)";
    Units units(out);
    EXPECT_EQ(size, units.size() + 1) << "the size counts the terminator";
    return units;
}

} // namespace

TEST(PathText, EveryNameBothWaysAsUtf8Writes) {
    struct Case {
        Units units;
        std::string text; // the bytes UTF-8 gives each letter
    } cases[] = {
        {u"C:\\Program Files\\Zelvantic", "C:\\Program Files\\Zelvantic"},
        {u"C:\\users\\\u041f\u043e\u043b\u044c\u0437\u043e\u0432\u0430\u0442\u0435\u043b\u044c",
         "C:\\users\\\xD0\x9F\xD0\xBE\xD0\xBB\xD1\x8C\xD0\xB7\xD0\xBE\xD0\xB2\xD0\xB0\xD1\x82\xD0"
         "\xB5\xD0\xBB\xD1\x8C"},
        {u"C:\\users\\\u7528\u6237", "C:\\users\\\xE7\x94\xA8\xE6\x88\xB7"},
        {u"U\u017cytkownik", "U\xC5\xBCytkownik"},
        {u"\u00e9\u20ac", "\xC3\xA9\xE2\x82\xAC"},
        // A pair of surrogates is one letter past U+FFFF: four bytes.
        {u"\xD83D\xDE00", "\xF0\x9F\x98\x80"},
        {u"\xDBFF\xDFFF", "\xF4\x8F\xBF\xBF"},
        // Windows allows an unpaired surrogate in a name: it keeps three bytes of its own.
        {u"a\xD800z", "a\xED\xA0\x80z"},
        {u"\xDC00\xD800", "\xED\xB0\x80\xED\xA0\x80"},
        {u"", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.text, Text(c.units));
        EXPECT_EQ(c.units, Back(c.text)) << c.text;
    }
}

TEST(PathText, BytesThatAreNoLetterAreNoPath) {
    for (const char* bad : {"\x80", "a\xBF", "\xC0\x80", "\xC1\xBF", "\xE0\x80\xAF",
                            "\xF0\x8F\xBF\xBF", "\xF4\x90\x80\x80", "\xF5\x80\x80\x80", "\xFF",
                            "\xD0", "\xE7\x94", "\xF0\x9F\x98", "\xD0z", "\xE7\x94z"})
        EXPECT_EQ(Units(u"(not path text)"), Back(bad)) << bad;
    EXPECT_EQ(0u, ToPathUnits(nullptr, nullptr, 0));
}

TEST(PathText, ATooSmallBufferGetsTheSizeAndNothingElse) {
    const Units name = u"\u7528\u6237"; // six bytes and the terminator
    char text[8] = "xxxxxxx";
    EXPECT_EQ(7u, ToPathText(name.data(), name.size(), text, 6));
    EXPECT_STREQ("xxxxxxx", text);
    PathUnit units[2] = {u'x', u'x'};
    EXPECT_EQ(3u, ToPathUnits("\xF0\x9F\x98\x80", units, 2)) << "two units and the terminator";
    EXPECT_EQ(u'x', units[0]);
}
