// The resources as shipped in agent.exe, built beside this program's folder.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

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

std::string AgentPath() {
    char path[MAX_PATH] = {0};
    GetModuleFileNameA(nullptr, path, sizeof path - 1);
    std::string p = path;
    p = p.substr(0, p.find_last_of("\\/")); // tests
    p = p.substr(0, p.find_last_of("\\/")); // win
    return p + "\\agent.exe";
}

class ShippedResources : public ::testing::Test {
  protected:
    void SetUp() override {
        module = LoadLibraryExA(AgentPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_TRUE(module) << AgentPath();
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
    HMODULE module = nullptr;
};

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

TEST_F(ShippedResources, BitmapsMenuDialogLogoAndTexts) {
    for (int id : {137, 138, 139}) {
        HBITMAP bitmap = LoadBitmapA(module, MAKEINTRESOURCEA(id));
        EXPECT_TRUE(bitmap) << id;
        if (bitmap) DeleteObject(bitmap);
    }
    EXPECT_TRUE(FindResourceA(module, MAKEINTRESOURCEA(134), RT_MENU));
    EXPECT_TRUE(FindResourceA(module, MAKEINTRESOURCEA(140), RT_DIALOG));
    EXPECT_TRUE(FindResourceA(module, MAKEINTRESOURCEA(141), "GIF"));
    // The same texts as this program's copy of the table, which the other cases check closely.
    for (UINT id = 1; id <= 8; ++id) {
        char shipped[512] = {0}, ours[512] = {0};
        EXPECT_GT(LoadStringA(module, id, shipped, sizeof shipped), 0) << id;
        LoadStringA(GetModuleHandleA(nullptr), id, ours, sizeof ours);
        EXPECT_STREQ(ours, shipped) << id;
    }
}

TEST_F(ShippedResources, VersionIsOnePointFive) {
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeA(AgentPath().c_str(), &ignored);
    ASSERT_GT(size, 0u);
    std::vector<char> block(size);
    ASSERT_TRUE(GetFileVersionInfoA(AgentPath().c_str(), 0, size, block.data()));
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
