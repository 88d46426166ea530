// The resources as shipped in agent.exe: the 32-bit build's, read as data from either build.
#include <windows.h>

#include <gtest/gtest.h>

#include <stdlib.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "agent/update/byte_string.h"
#include "tests/win/common/file_helpers.h"

namespace {

#pragma pack(push, 2)
struct GroupEntry {
    BYTE width, height, colours, reserved;
    WORD planes, bitCount;
    DWORD bytes;
    WORD id;
};
struct GroupHeader {
    WORD reserved, type, count;
};
#pragma pack(pop)

// Reads a resource template front to back; a read past its end clears ok and gives zeros.
struct TemplateReader {
    const BYTE* data;
    DWORD size;
    DWORD at = 0;
    bool ok = true;

    DWORD Take(DWORD n) {
        DWORD v = 0;
        if (at + n > size) ok = false;
        for (DWORD i = 0; ok && i < n; ++i)
            v |= static_cast<DWORD>(data[at + i]) << (8 * i);
        at += n;
        return v;
    }
    WORD Word() { return static_cast<WORD>(Take(2)); }
    DWORD Dword() { return Take(4); }
    std::string Text() { // UTF-16 up to its terminator; the texts here are plain ASCII
        std::string text;
        for (WORD c; ok && (c = Word()) != 0;)
            text += c < 0x80 ? static_cast<char>(c) : '?';
        return text;
    }
    std::string TextOrOrdinal() {
        if (at + 2 <= size && data[at] == 0xFF && data[at + 1] == 0xFF) {
            Word();
            return "#" + std::to_string(Word());
        }
        return Text();
    }
    void Align() { at = (at + 3) & ~3u; }
};

std::string ShippedAgent() {
    return ShippedFolder() + "\\agent.exe";
}

class ShippedResources : public ::testing::Test {
  protected:
    void SetUp() override {
        module = LoadLibraryExA(ShippedAgent().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_TRUE(module) << ShippedAgent();
    }
    void TearDown() override {
        if (module) FreeLibrary(module);
    }
    // The images of an icon group as (width, bit count) pairs.
    std::vector<std::pair<int, int>> IconGroup(int id) {
        std::vector<std::pair<int, int>> images;
        HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(id), RT_GROUP_ICON);
        if (!found) return images;
        DWORD size = SizeofResource(module, found);
        const BYTE* data = static_cast<const BYTE*>(LockResource(LoadResource(module, found)));
        if (!data || size < sizeof(GroupHeader)) return images;
        const GroupHeader* header = reinterpret_cast<const GroupHeader*>(data);
        for (WORD i = 0; i < header->count; ++i) {
            size_t at = sizeof(GroupHeader) + i * sizeof(GroupEntry);
            if (at + sizeof(GroupEntry) > size) break;
            const GroupEntry* e = reinterpret_cast<const GroupEntry*>(data + at);
            EXPECT_EQ(e->width, e->height) << id;
            images.push_back({e->width ? e->width : 256, e->bitCount});
        }
        return images;
    }
    TemplateReader Template(int id, LPCSTR type) {
        HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(id), type);
        const BYTE* data =
            found ? static_cast<const BYTE*>(LockResource(LoadResource(module, found))) : nullptr;
        TemplateReader reader = {data, data ? SizeofResource(module, found) : 0};
        return reader;
    }
    std::string Text(UINT id) {
        char text[512] = {0};
        LoadStringA(module, id, text, sizeof text);
        return text;
    }
    HMODULE module = nullptr;
};

// The deployment values, as the test runner states them.
std::string Expected(const char* name) {
    const char* value = getenv(name);
    if (!value) ADD_FAILURE() << name << " is not set: run the tests through ./zlv test";
    return value ? value : "";
}

TEST_F(ShippedResources, TrayFramesAndClassIcon) {
    for (int id = 104; id <= 131; ++id) {
        std::vector<std::pair<int, int>> images = IconGroup(id);
        ASSERT_EQ(1u, images.size()) << id;
        EXPECT_EQ(16, images[0].first) << id;
        EXPECT_EQ(8, images[0].second) << id;
    }
    std::vector<std::pair<int, int>> agent = IconGroup(133);
    std::sort(agent.begin(), agent.end());
    std::vector<std::pair<int, int>> expected = {{16, 4}, {16, 8}, {24, 4},
                                                 {24, 8}, {32, 4}, {32, 8}};
    EXPECT_EQ(expected, agent);
    EXPECT_TRUE(IconGroup(132).empty());
}

TEST_F(ShippedResources, BitmapsLogoAndTexts) {
    for (int id : {137, 138, 139}) {
        HBITMAP bitmap = LoadBitmapA(module, MAKEINTRESOURCEA(id));
        EXPECT_TRUE(bitmap) << id;
        if (bitmap) DeleteObject(bitmap);
    }
    EXPECT_TRUE(FindResourceA(module, MAKEINTRESOURCEA(141), "GIF"));
    EXPECT_EQ(Expected("ZLV_EXPECT_UPDATE_URL"), Text(1));
    EXPECT_EQ("updatedrates.php", Text(2));
    // Formatted with the request target, then the Host field: "GET /updatedrates.php HTTP/1.0"
    // and "Host: 127.0.0.1" for today's address, byte for byte the request of 1.5.
    EXPECT_EQ("GET %s HTTP/1.0\r\nHost: %s\r\nAccept: text/html \r\nCache-Control: no-cache "
              "\r\n\r\n",
              Text(3));
    EXPECT_EQ("Zelvantic update is now ready \nfor synchronization.   You can now hot sync \nyour "
              "device to complete the updates.",
              Text(4));
    EXPECT_EQ("Failed to modify the registry settings.   Please make sure that \nyou have enough "
              "rights.",
              Text(5));
    EXPECT_EQ("Unable to open or explore '%s'.  \nPlease make sure that the target exists.",
              Text(6));
    EXPECT_EQ("Unable to open '%s'.\nApplication acrobat reader must be installed in your system.",
              Text(7));
    EXPECT_EQ(Expected("ZLV_EXPECT_WEBSITE"), Text(8));
    EXPECT_EQ("", Text(9));
}

TEST_F(ShippedResources, PopupMenuItemsIdsAndOrder) {
    TemplateReader menu = Template(134, RT_MENU);
    ASSERT_TRUE(menu.data);
    EXPECT_EQ(0u, menu.Dword()) << "a plain menu template";
    // Each item as "id text", a sub-menu as "POPUP text" with its items indented.
    std::vector<std::string> items;
    std::function<void(int)> level = [&](int depth) {
        for (WORD flags = 0; menu.ok && !(flags & MF_END);) {
            flags = menu.Word();
            std::string line(2 * depth, ' ');
            WORD id = flags & MF_POPUP ? 0 : menu.Word();
            std::string text = menu.Text();
            if (flags & MF_POPUP)
                line += "POPUP " + text;
            else
                line += id == 0 && text.empty() ? "SEPARATOR" : std::to_string(id) + " " + text;
            if (flags & ~(MF_POPUP | MF_END)) line += " flags " + std::to_string(flags);
            items.push_back(line);
            if (flags & MF_POPUP) level(depth + 1);
        }
    };
    level(0);
    EXPECT_TRUE(menu.ok);
    const std::vector<std::string> expected = {"POPUP POP_MENU1",
                                               "  40002 &Exit",
                                               "  SEPARATOR",
                                               "  40003 &Install to Palm",
                                               "  POPUP &Settings",
                                               "    40011 Auto run on startup",
                                               "    40008 Show tray balloon tip",
                                               "  SEPARATOR",
                                               "  40005 &Readme",
                                               "  40004 &Manual (PDF)",
                                               "  40006 &Visit our website",
                                               "  40001 &About..."};
    EXPECT_EQ(expected, items);
}

TEST_F(ShippedResources, AboutDialogTemplate) {
    TemplateReader d = Template(140, RT_DIALOG);
    ASSERT_TRUE(d.data);
    EXPECT_EQ(1u, d.Word()) << "an extended template";
    EXPECT_EQ(0xFFFFu, d.Word());
    d.Dword(); // help id
    EXPECT_EQ(static_cast<DWORD>(WS_EX_TOOLWINDOW), d.Dword());
    EXPECT_EQ(0x86C80040u, d.Dword());
    EXPECT_EQ(1u, d.Word()) << "items";
    const short at[] = {0, 0, 194, 49};
    for (short v : at)
        EXPECT_EQ(v, static_cast<short>(d.Word()));
    EXPECT_EQ("", d.TextOrOrdinal()) << "menu";
    EXPECT_EQ("", d.TextOrOrdinal()) << "class";
    EXPECT_EQ("Dialog", d.Text());
    EXPECT_EQ(8u, d.Word()) << "point size";
    d.Word(); // weight
    d.Word(); // italic, character set
    EXPECT_EQ("MS Sans Serif", d.Text());

    d.Align();
    d.Dword(); // help id
    d.Dword(); // extended style
    EXPECT_EQ(0x50020000u, d.Dword());
    const short item[] = {53, 10, 123, 8};
    for (short v : item)
        EXPECT_EQ(v, static_cast<short>(d.Word()));
    EXPECT_EQ(0xFFFFFFFFu, d.Dword()) << "id -1";
    std::string cls = d.TextOrOrdinal();
    EXPECT_TRUE(cls == "#130" || cls == "STATIC") << cls;
    EXPECT_EQ("Zelvantic Desktop Agent v1.5", d.TextOrOrdinal());
    EXPECT_TRUE(d.ok);
}

// A missing id loads as an empty text, which empties the string; a present one is the format.
TEST_F(ShippedResources, FormatResourceOfAMissingIdEmptiesTheString) {
    ByteString s("something before");
    s.FormatResource(module, 9);
    EXPECT_EQ(0u, s.Length());
    s.FormatResource(module, 6, "C:\\Zelvantic\\Palm");
    EXPECT_STREQ("Unable to open or explore 'C:\\Zelvantic\\Palm'.  \nPlease make sure that the "
                 "target exists.",
                 s.CStr());
}

TEST_F(ShippedResources, VersionIsOnePointFive) {
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeA(ShippedAgent().c_str(), &ignored);
    ASSERT_GT(size, 0u);
    std::vector<char> block(size);
    ASSERT_TRUE(GetFileVersionInfoA(ShippedAgent().c_str(), 0, size, block.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(0x00010005u, fixed->dwFileVersionMS);
    char* text = nullptr;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\StringFileInfo\\040904E4\\FileVersion",
                               reinterpret_cast<void**>(&text), &length));
    EXPECT_STREQ("1.5", text);
}

} // namespace
