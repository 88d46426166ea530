// Nothing under HKEY_LOCAL_MACHINE is the agent's or the conduit's to write: the machine's
// software keys read back the same after a start, a download, a menu toggle, a HotSync and a
// toggle in the conduit's dialog, whether or not the installer left its defaults there. Those
// defaults hold for a user with no values of their own, and a user's own value wins.
#include <gtest/gtest.h>

#include <sstream>

#include "tests/win/common/configure_host.h"
#include "tests/win/common/palm_desktop.h"
#include "tests/win/common/ui_helpers.h"
#include "tests/win/hardening/harness.h"

namespace {

const UINT kTooltipCommand = 40008; // "Show tray balloon tip"
const int kAutoRunBox = 412;        // "Auto run desktop agent when windows starts."
const std::string kOneRatePage = "USD\tUS Dollar\t1.0000\n";
const std::string kOn("1\0\0\0", 4), kOff("0\0\0\0", 4);

std::string MachineSoftware() {
    return KeyTree(HKEY_LOCAL_MACHINE, "Software");
}

// The first line where two key trees part, with its neighbour, for the failure message.
std::string FirstDifference(const std::string& before, const std::string& after) {
    std::istringstream a(before), b(after);
    std::string la, lb, last;
    while (true) {
        bool moreA = static_cast<bool>(std::getline(a, la));
        bool moreB = static_cast<bool>(std::getline(b, lb));
        if (!moreA && !moreB) return "";
        if (!moreA || !moreB || la != lb)
            return "after " + last + "\nbefore: " + (moreA ? la : "(end)") +
                   "\nafter:  " + (moreB ? lb : "(end)");
        last = la;
    }
}

std::string UserFlag(const char* name) {
    DWORD type = 0;
    Bytes data;
    if (!ReadSetting(name, &type, &data)) return "<absent>";
    return std::string(data.begin(), data.end());
}

} // namespace

TEST(MachineKey, NeitherDeliverableWritesUnderIt) {
    for (bool installerDefaults : {true, false}) {
        SCOPED_TRACE(installerDefaults ? "with the installer's defaults" : "with no machine key");
        Installation install("zmk");
        ASSERT_TRUE(install.Ready());
        LoopbackHttpServer server(RatesReply(kOneRatePage));
        ASSERT_TRUE(server.Listening()) << "port 80 is taken";
        SavedSetting tooltip("tooltip"), startup("startup"), hwnd("hwnd"), last("lastupdate");
        for (const char* name : {"tooltip", "startup", "lastupdate"})
            DeleteSetting(name);
        // The installer's choices: balloons on, the automatic start on.
        MachineDefaults machine(installerDefaults ? "1" : nullptr,
                                installerDefaults ? "1" : nullptr, installerDefaults);
        const std::string before = MachineSoftware();

        AgentProcess agent(5000);
        ASSERT_TRUE(agent.Start(install.AgentPath()));
        HWND window = agent.WaitWindow(10000);
        ASSERT_TRUE(window) << "the agent did not start";
        ASSERT_TRUE(WaitFor([&] { return FileExists(install.RatesPath()); }, 15000))
            << "no download";
        // The menu's mark came from the machine's default (or off without one): the click turns
        // it over into a value of the user's own.
        PostMessageA(window, WM_COMMAND, kTooltipCommand, 0);
        const std::string toggled = installerDefaults ? kOff : kOn;
        EXPECT_TRUE(WaitFor([&] { return UserFlag("tooltip") == toggled; }, 5000))
            << "tooltip: " << UserFlag("tooltip");

        install.RegisterConduitHere();
        ProgramRun sync = install.HotSync();
        EXPECT_EQ(0u, sync.exitCode) << sync.output;
        EXPECT_FALSE(FileExists(install.RatesPath())) << "the HotSync did not take the rates";

        // The dialog shows the default, and its click is the user's.
        bool shownOn = true;
        EXPECT_EQ("", RunConfigureHost(PalmFolder(), install.Folder(), [&](HWND dialog) {
                      shownOn = IsDlgButtonChecked(dialog, kAutoRunBox) == BST_CHECKED;
                      SendMessageA(GetDlgItem(dialog, kAutoRunBox), BM_CLICK, 0, 0);
                  }));
        EXPECT_EQ(installerDefaults, shownOn);
        EXPECT_EQ(installerDefaults ? kOff : kOn, UserFlag("startup"));
        EXPECT_TRUE(agent.End()) << "the agent did not take its Exit command";

        const std::string after = MachineSoftware();
        EXPECT_TRUE(before == after) << FirstDifference(before, after);
        if (!installerDefaults) {
            EXPECT_EQ("<absent>", KeyTree(HKEY_LOCAL_MACHINE, ZLV_KEY)) << "made by a reader";
        }
    }
}
