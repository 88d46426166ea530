// conduit.dll's resources as the HotSync Manager and the user meet them, read back from the shipped
// library: the string table, both settings dialogs item by item, the icon and the four pictures.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "tests/win/common/file_helpers.h"

namespace {

struct ConduitResources {
    HMODULE dll = LoadLibraryExA((ShippedFolder() + "\\conduit.dll").c_str(), nullptr,
                                 LOAD_LIBRARY_AS_DATAFILE);
    ~ConduitResources() {
        if (dll) FreeLibrary(dll);
    }
    Bytes Data(LPCSTR type, int id) const {
        HRSRC found = FindResourceA(dll, MAKEINTRESOURCEA(id), type);
        const BYTE* p =
            found ? static_cast<const BYTE*>(LockResource(LoadResource(dll, found))) : nullptr;
        return p ? Bytes(p, p + SizeofResource(dll, found)) : Bytes();
    }
};

// A classic dialog template, read within its bounds; any overrun marks it broken.
class TemplateReader {
  public:
    explicit TemplateReader(const Bytes& bytes) : b_(bytes) {}
    bool Broken() const { return broken_; }
    WORD Word() {
        if (pos_ + 2 > b_.size()) return Fail();
        WORD w = WORD(b_[pos_] | b_[pos_ + 1] << 8);
        pos_ += 2;
        return w;
    }
    DWORD Dword() {
        DWORD low = Word();
        return low | DWORD(Word()) << 16;
    }
    // A text, or a number standing for one (0xFFFF then the number): "#number".
    std::string TextOrNumber() {
        WORD first = Word();
        if (first == 0xFFFF) return "#" + std::to_string(Word());
        std::string text;
        for (WORD c = first; c != 0 && !broken_; c = Word())
            text += c < 0x80 ? char(c) : '?';
        return text;
    }
    void AlignToDword() { pos_ = (pos_ + 3) & ~size_t(3); }

  private:
    WORD Fail() {
        broken_ = true;
        pos_ = b_.size();
        return 0;
    }
    const Bytes& b_;
    size_t pos_ = 0;
    bool broken_ = false;
};

struct Item {
    DWORD style;
    short x, y, cx, cy;
    WORD id;
    std::string cls, text;
};
struct Dialog {
    DWORD style;
    short cx, cy;
    std::string caption, font;
    WORD points = 0;
    std::vector<Item> items;
};

bool ParseDialog(const Bytes& bytes, Dialog* d) {
    TemplateReader r(bytes);
    d->style = r.Dword();
    if (HIWORD(d->style) == 0xFFFF) return false; // an extended template
    r.Dword();                                    // extended style
    WORD count = r.Word();
    r.Word(); // x, y
    r.Word();
    d->cx = short(r.Word());
    d->cy = short(r.Word());
    r.TextOrNumber(); // menu
    r.TextOrNumber(); // class
    d->caption = r.TextOrNumber();
    if (d->style & DS_SETFONT) {
        d->points = r.Word();
        d->font = r.TextOrNumber();
    }
    for (WORD i = 0; i < count && !r.Broken(); ++i) {
        r.AlignToDword();
        Item it;
        it.style = r.Dword();
        r.Dword();
        it.x = short(r.Word());
        it.y = short(r.Word());
        it.cx = short(r.Word());
        it.cy = short(r.Word());
        it.id = r.Word();
        it.cls = r.TextOrNumber();
        if (it.cls == "#128") it.cls = "Button";
        if (it.cls == "#130") it.cls = "Static";
        it.text = r.TextOrNumber();
        for (WORD words = (r.Word() + 1) / 2; words > 0; --words) // creation data, in bytes
            r.Word();
        d->items.push_back(it);
    }
    return !r.Broken();
}

// What an item is, as the dialog's own table names it.
struct Kind {
    const char* cls;
    DWORD type, mask;
};
const Kind kGroupBox = {"Button", BS_GROUPBOX, 0x0F}, kLabel = {"Static", SS_LEFT, 0x1F},
           kRadio = {"Button", BS_RADIOBUTTON, 0x0F}, kPicture = {"Static", SS_BITMAP, 0x1F},
           kCheck = {"Button", BS_AUTOCHECKBOX, 0x0F},
           kDefault = {"Button", BS_DEFPUSHBUTTON, 0x0F}, kPush = {"Button", BS_PUSHBUTTON, 0x0F};
const WORD kNone = 0xFFFF;

struct Expected {
    WORD id;
    Kind kind;
    const char* text; // "#103": the picture of bitmap 103
    short x, y, cx, cy;
    bool shown;       // else hidden and disabled
    bool startsGroup; // checked for the radio buttons
};

void ExpectDialog(int id, short cx, short cy, const std::vector<Expected>& expected) {
    SCOPED_TRACE("dialog " + std::to_string(id));
    ConduitResources conduit;
    ASSERT_NE(conduit.dll, nullptr);
    Dialog d;
    ASSERT_TRUE(ParseDialog(conduit.Data(RT_DIALOG, id), &d)) << "missing or unreadable";
    const DWORD kWindow = WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_SETFONT;
    EXPECT_EQ(d.style & kWindow, kWindow);
    EXPECT_EQ(d.style & WS_CHILD, 0u);
    EXPECT_EQ(d.cx, cx);
    EXPECT_EQ(d.cy, cy);
    EXPECT_EQ(d.caption, "Zelvantic Settings");
    EXPECT_EQ(d.font, "MS Sans Serif");
    EXPECT_EQ(d.points, 8);
    ASSERT_EQ(d.items.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        const Item& it = d.items[i];
        const Expected& e = expected[i];
        SCOPED_TRACE("item " + std::to_string(i) + " \"" + e.text + "\"");
        EXPECT_EQ(it.id, e.id);
        EXPECT_EQ(lstrcmpiA(it.cls.c_str(), e.kind.cls), 0) << it.cls; // class names ignore case
        EXPECT_EQ(it.style & e.kind.mask, e.kind.type);
        EXPECT_EQ(it.text, e.text);
        EXPECT_EQ((std::vector<short>{it.x, it.y, it.cx, it.cy}),
                  (std::vector<short>{e.x, e.y, e.cx, e.cy}));
        EXPECT_EQ((it.style & WS_VISIBLE) != 0, e.shown);
        EXPECT_EQ((it.style & WS_DISABLED) == 0, e.shown);
        if (strcmp(e.kind.cls, "Button") == 0 && e.kind.type == BS_RADIOBUTTON) {
            EXPECT_EQ((it.style & WS_GROUP) != 0, e.startsGroup);
        }
    }
}

TEST(ConduitResources, SettingsDialog101ItemByItem) {
    ExpectDialog(
        101, 262, 154,
        {
            {1006, kGroupBox, "<User's Current Settings Place Holder>", 8, 6, 238, 44, true, false},
            {kNone, kLabel, "Default HotSync Action:", 14, 21, 77, 8, true, false},
            {1004, kLabel, "Static", 103, 21, 131, 8, true, false},
            {kNone, kLabel, "Next HotSync Action:", 14, 34, 77, 8, true, false},
            {1005, kLabel, "Static", 103, 34, 131, 8, true, false},
            {403, kGroupBox, "<Conduit Name HotSync Action Place Holder>", 8, 54, 173, 54, true,
             false},
            {404, kRadio, "&Synchronize the files", 5, 2, 79, 10, false, true},
            {1000, kPicture, "#103", 87, 0, 32, 15, false, false},
            {406, kRadio, "&Handheld overwrites Desktop", 153, 1, 108, 10, false, false},
            {1002, kPicture, "#105", 123, 0, 32, 15, false, false},
            {1001, kPicture, "#104", 15, 69, 32, 15, true, false},
            {405, kRadio, "&Update currencies", 64, 72, 74, 10, true, false},
            {1003, kPicture, "#106", 15, 88, 32, 15, true, false},
            {407, kRadio, "Do &nothing", 64, 90, 48, 10, true, false},
            {411, kCheck, "Make the current selection to be the default.", 15, 114, 153, 10, true,
             false},
            {412, kCheck, "Auto run desktop agent when windows starts.", 15, 126, 159, 10, true,
             false},
            {414, kCheck, "Hide tray balloon tips.", 15, 139, 83, 10, true, false},
            {1, kDefault, "OK", 196, 57, 50, 14, true, false},
            {2, kPush, "Cancel", 196, 73, 50, 14, true, false},
            {9, kPush, "Help", 196, 94, 50, 14, true, false},
        });
}

TEST(ConduitResources, SettingsDialog399ItemByItem) {
    ExpectDialog(399, 257, 116,
                 {
                     {403, kGroupBox, "<PlaceHolder>", 8, 8, 177, 59, true, false},
                     {404, kRadio, "&Synchronize the files", 42, 0, 79, 10, false, true},
                     {1000, kPicture, "#103", 10, 0, 32, 15, false, false},
                     {406, kRadio, "&Handheld overwrites Desktop", 148, 0, 108, 10, false, false},
                     {1002, kPicture, "#105", 125, 0, 32, 15, false, false},
                     {1001, kPicture, "#104", 17, 23, 32, 15, true, false},
                     {405, kRadio, "&Update currencies", 64, 26, 74, 10, true, false},
                     {1003, kPicture, "#106", 17, 44, 32, 15, true, false},
                     {407, kRadio, "Do &nothing", 64, 46, 48, 10, true, false},
                     {411, kCheck, "Make the current selection to be the default.", 11, 74, 155, 10,
                      true, false},
                     {412, kCheck, "Auto run desktop agent when windows starts.", 11, 87, 159, 10,
                      true, false},
                     {414, kCheck, "Hide tray balloon tips.", 11, 100, 83, 10, true, false},
                     {1, kDefault, "OK", 196, 11, 50, 14, true, false},
                     {2, kPush, "Cancel", 196, 27, 50, 14, true, false},
                     {9, kPush, "Help", 196, 52, 50, 14, true, false},
                 });
}

TEST(ConduitResources, StringsIconAndPictures) {
    ConduitResources conduit;
    ASSERT_NE(conduit.dll, nullptr);
    const struct {
        int id;
        const char* text;
    } kStrings[] = {
        {1, "Zelvantic"},
        {8004, "%s's Current Settings:"},
        {8005, "Synchronize the files."},
        {8006, "Update currencies on Palm organizer"},
        {8007, "Palm organizer overwrites Desktop."},
        {8008, "Just do nothing"},
        {8009, "Hot Sync Action for Zelvantic"},
    };
    for (const auto& s : kStrings) {
        char text[128] = "";
        LoadStringA(conduit.dll, s.id, text, sizeof text);
        EXPECT_STREQ(text, s.text) << "string " << s.id;
    }

    // The icon group and at least one image it names.
    Bytes group = conduit.Data(RT_GROUP_ICON, 105);
    ASSERT_GE(group.size(), 6u + 14u) << "icon 105";
    EXPECT_GE(group[4] | group[5] << 8, 1);
    EXPECT_FALSE(conduit.Data(RT_ICON, group[6 + 12] | group[6 + 13] << 8).empty());

    // 48 x 24 pixels in 16 colours, mostly the light grey that the dialog replaces; four pictures.
    std::vector<Bytes> pictures;
    for (int id = 103; id <= 106; ++id) {
        SCOPED_TRACE("bitmap " + std::to_string(id));
        Bytes bmp = conduit.Data(RT_BITMAP, id);
        ASSERT_GE(bmp.size(), sizeof(BITMAPINFOHEADER) + 16 * 4 + 24 * 24);
        BITMAPINFOHEADER h;
        memcpy(&h, bmp.data(), sizeof h);
        EXPECT_EQ(h.biWidth, 48);
        EXPECT_EQ(abs(h.biHeight), 24);
        ASSERT_EQ(h.biBitCount, 4);
        const DWORD colours = h.biClrUsed ? h.biClrUsed : 16;
        ASSERT_LE(colours, 16u);
        const BYTE* palette = bmp.data() + h.biSize;
        const BYTE* pixels = palette + colours * 4;
        ASSERT_LE(size_t(pixels - bmp.data()) + 24 * 24, bmp.size());
        for (const Bytes& other : pictures)
            EXPECT_NE(other, Bytes(pixels, pixels + 24 * 24)) << "the same picture twice";
        pictures.push_back(Bytes(pixels, pixels + 24 * 24));
        int uses[16] = {};
        for (int p = 0; p < 24 * 24; ++p) {
            uses[pixels[p] >> 4]++;
            uses[pixels[p] & 15]++;
        }
        int most = 0;
        for (DWORD i = 1; i < colours; ++i)
            if (uses[i] > uses[most]) most = i;
        const BYTE* grey = palette + 4 * most; // blue, green, red
        EXPECT_EQ((std::vector<int>{grey[2], grey[1], grey[0]}),
                  (std::vector<int>{0xC0, 0xC0, 0xC0}));
    }
}

} // namespace
