#include <gtest/gtest.h>
#include <string.h>

#include "conduit/resources/dialog_ids.h"
#include "tests/win/common/registry_helpers.h"
#include "tests/win/dialog/dialog_harness.h"

namespace {

const std::string kOn("1\0\0\0", 4);
const std::string kOff("0\0\0\0", 4);

TEST(SettingsDialog, NextActionIsForcedToUpdateUnlessNothing) {
    const int kActions[] = {IDC_SYNC, IDC_UPDATE, IDC_OVERWRITE, IDC_NOTHING};
    struct Case {
        int templateId;
        DWORD next;
        int shown;
        DWORD after; // even after Cancel
    } cases[] = {
        {IDD_SETTINGS, 0, IDC_UPDATE, 3}, {IDD_SETTINGS, 1, IDC_UPDATE, 3},
        {IDD_SETTINGS, 2, IDC_UPDATE, 3}, {IDD_SETTINGS, 3, IDC_UPDATE, 3},
        {IDD_SETTINGS, 5, IDC_UPDATE, 3}, {IDD_SETTINGS_OLD, 6, IDC_NOTHING, 6},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("next type " + std::to_string(c.next));
        SettingsRecord r;
        r.Set(kNextType, c.next);
        INT_PTR result = RunSettingsDialog(c.templateId, &r, [&](HWND d) {
            for (int id : kActions)
                EXPECT_EQ(id == c.shown, Checked(d, id)) << "button " << id;
            Command(d, IDCANCEL);
        });
        EXPECT_EQ(1, result);
        EXPECT_EQ(c.after, r.Get(kNextType));
        EXPECT_EQ(kUntouched, r.Get(kChosenType));
        EXPECT_EQ(kUntouched, r.Get(kKind));
    }
}

TEST(SettingsDialog, OkWritesTheChosenActionAndKind) {
    struct Case {
        int templateId;
        DWORD next;
        int clicks[3];
        DWORD chosen, kind;
    } cases[] = {
        {IDD_SETTINGS, 2, {}, 3, 2},
        {IDD_SETTINGS_OLD, 6, {}, 6, 2},
        {IDD_SETTINGS, 3, {IDC_MAKE_DEFAULT}, 3, 1},
        {IDD_SETTINGS, 3, {IDC_NOTHING}, 6, 2},
        {IDD_SETTINGS_OLD, 6, {IDC_UPDATE, IDC_MAKE_DEFAULT}, 3, 1},
        {IDD_SETTINGS, 3, {IDC_MAKE_DEFAULT, IDC_MAKE_DEFAULT}, 3, 2},
    };
    for (const Case& c : cases) {
        SettingsRecord r;
        r.Set(kNextType, c.next);
        SettingsRecord before = r;
        INT_PTR result = RunSettingsDialog(c.templateId, &r, [&](HWND d) {
            for (int id : c.clicks)
                if (id) Click(d, id);
            Command(d, IDOK);
        });
        EXPECT_EQ(0, result);
        EXPECT_EQ(c.chosen, r.Get(kChosenType))
            << "template " << c.templateId << " next " << c.next;
        EXPECT_EQ(c.kind, r.Get(kKind)) << "template " << c.templateId << " next " << c.next;
        EXPECT_EQ(0, memcmp(before.bytes, r.bytes, kNextType)) << "bytes before the sync types";
    }
}

TEST(SettingsDialog, AgentFlagsAreWrittenAtTheClick) {
    WriteSetting("startup", REG_SZ, "0\0\0", 4);
    WriteSetting("tooltip", REG_SZ, "1\0\0", 4);
    SettingsRecord r;
    INT_PTR result = RunSettingsDialog(IDD_SETTINGS, &r, [](HWND d) {
        EXPECT_FALSE(Checked(d, IDC_AUTO_RUN));
        EXPECT_FALSE(Checked(d, IDC_HIDE_TIPS));
        Click(d, IDC_AUTO_RUN);
        EXPECT_EQ(kOn, StoredFlag("startup"));
        Click(d, IDC_HIDE_TIPS);
        EXPECT_EQ(kOff, StoredFlag("tooltip"));
        Click(d, IDC_AUTO_RUN);
        EXPECT_EQ(kOff, StoredFlag("startup"));
        Click(d, IDC_AUTO_RUN);
        Command(d, IDCANCEL);
    });
    EXPECT_EQ(1, result);
    EXPECT_EQ(kOn, StoredFlag("startup")) << "Cancel must not undo a flag";
    EXPECT_EQ(kOff, StoredFlag("tooltip")) << "Cancel must not undo a flag";

    RunSettingsDialog(IDD_SETTINGS_OLD, &r, [](HWND d) {
        EXPECT_TRUE(Checked(d, IDC_AUTO_RUN));
        EXPECT_TRUE(Checked(d, IDC_HIDE_TIPS));
        Click(d, IDC_HIDE_TIPS);
        Command(d, IDOK);
    });
    EXPECT_EQ(kOn, StoredFlag("tooltip"));
}

TEST(SettingsDialog, OddStoredFlagsReadLikeNumbers) {
    const DWORD one = 1;
    struct Case {
        const char* data;
        DWORD size, type;
        bool on;
    } cases[] = {
        {" 1\0", 4, REG_SZ, true},
        {"2\0\0", 4, REG_SZ, true},
        {"abc", 4, REG_SZ, false},
        {"", 1, REG_SZ, false},
        {"11111", 5, REG_SZ, false}, // longer than 4 bytes
        {reinterpret_cast<const char*>(&one), 4, REG_DWORD, false},
        {nullptr, 0, 0, false}, // missing
    };
    for (const Case& c : cases) {
        if (c.data)
            WriteSetting("startup", c.type, c.data, c.size);
        else
            DeleteSetting("startup");
        SettingsRecord r;
        RunSettingsDialog(IDD_SETTINGS_OLD, &r, [&](HWND d) {
            EXPECT_EQ(c.on, Checked(d, IDC_AUTO_RUN)) << (c.data ? c.data : "(missing)");
            Command(d, IDCANCEL);
        });
    }
}

TEST(SettingsDialog, CurrentSettingsAreaShowsUserAndActions) {
    struct Case {
        DWORD defaultType, nextType;
        const char *defaultText, *nextText;
    } cases[] = {
        {1, 5, "Synchronize the files.", "Update currencies on Palm organizer"},
        {5, 6, "Just do nothing", "Just do nothing"},
        {2, 0, "Palm organizer overwrites Desktop.", "Update currencies on Palm organizer"},
        {0, 3, "Synchronize the files.", "Update currencies on Palm organizer"},
    };
    for (const Case& c : cases) {
        SettingsRecord r;
        r.Set(kCreatorId, 0x5A4C5641);
        r.SetUserName("Kim %s O'Neil", 13);
        r.Set(kDefaultType, c.defaultType);
        r.Set(kNextType, c.nextType);
        RunSettingsDialog(IDD_SETTINGS, &r, [&](HWND d) {
            EXPECT_EQ("Kim %s O'Neil's Current Settings:", ItemText(d, IDC_CURRENT_GROUP));
            EXPECT_EQ(c.defaultText, ItemText(d, IDC_DEFAULT_STATUS));
            EXPECT_EQ(c.nextText, ItemText(d, IDC_NEXT_STATUS));
            EXPECT_EQ("Hot Sync Action for Zelvantic", ItemText(d, IDC_ACTION_GROUP));
            char caption[64];
            GetWindowTextA(d, caption, sizeof caption);
            EXPECT_STREQ("Zelvantic", caption);
            Command(d, IDCANCEL);
        });
    }

    // A name that fills all 64 bytes without a terminator is shown whole and no further.
    SettingsRecord r;
    r.Set(kCreatorId, 1);
    std::string name(64, 'N');
    r.SetUserName(name.c_str(), 64);
    memset(r.bytes + kUserName + 64, 'P', 256); // nor is the path after it
    r.Set(kDefaultType, 0x50505050);
    RunSettingsDialog(IDD_SETTINGS, &r, [&](HWND d) {
        EXPECT_EQ(name + "'s Current Settings:", ItemText(d, IDC_CURRENT_GROUP));
        EXPECT_EQ("Just do nothing", ItemText(d, IDC_DEFAULT_STATUS));
        Command(d, IDCANCEL);
    });
}

TEST(SettingsDialog, NoCreatorOrNoRecordLeavesTheAreaAlone) {
    SettingsRecord r;
    r.SetUserName("Kim", 3);
    RunSettingsDialog(IDD_SETTINGS, &r, [](HWND d) {
        EXPECT_EQ("<User's Current Settings Place Holder>", ItemText(d, IDC_CURRENT_GROUP));
        EXPECT_EQ("Static", ItemText(d, IDC_DEFAULT_STATUS));
        EXPECT_EQ("Static", ItemText(d, IDC_NEXT_STATUS));
        Command(d, IDCANCEL);
    });
    RunSettingsDialog(IDD_SETTINGS_OLD, &r, [](HWND d) {
        EXPECT_EQ(nullptr, GetDlgItem(d, IDC_CURRENT_GROUP));
        EXPECT_EQ("Hot Sync Action for Zelvantic", ItemText(d, IDC_ACTION_GROUP));
        Command(d, IDCANCEL);
    });

    // Without a record the dialog still opens and closes; OK has nowhere to write.
    INT_PTR result = RunSettingsDialog(IDD_SETTINGS, nullptr, [](HWND d) {
        char caption[64];
        GetWindowTextA(d, caption, sizeof caption);
        EXPECT_STREQ("Zelvantic Settings", caption);
        EXPECT_TRUE(SendMessageA(d, WM_GETICON, ICON_BIG, 0) != 0);
        Click(d, IDC_NOTHING);
        Command(d, IDOK);
    });
    EXPECT_EQ(0, result);
}

} // namespace
