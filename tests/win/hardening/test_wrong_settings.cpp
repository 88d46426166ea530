// The settings key holding values of the wrong type or size, as another program or an old
// version could leave them: both deliverables go on with the defaults, and the agent's next
// start puts its own values back.
#include <gtest/gtest.h>

#include <time.h>

#include "tests/win/common/ui_helpers.h"
#include "tests/win/hardening/harness.h"

namespace {

const std::string kPage = "USD\tUS Dollar\t1.0000\nEUR\tEuro\t0.9215\nGBP\tPound\t0.7893\n";

// A window of this program that would hear the sync-result message if the conduit took a text
// value for a window handle.
struct Listener {
    static LONG heard;
    static LRESULT CALLBACK Proc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
        static const UINT syncResult = RegisterWindowMessageA("zlv_kelpo_palm_synch");
        if (m == syncResult) {
            ++heard;
            return 0;
        }
        return DefWindowProcA(w, m, wp, lp);
    }
    Listener() {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = Proc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "ZlvWrongSettingsListener";
        RegisterClassA(&wc);
        window = CreateWindowA(wc.lpszClassName, "", 0, 0, 0, 0, 0, nullptr, nullptr, wc.hInstance,
                               nullptr);
        heard = 0;
    }
    ~Listener() { DestroyWindow(window); }
    HWND window;
};
LONG Listener::heard;

Bytes Le32(DWORD v) {
    return Bytes{BYTE(v), BYTE(v >> 8), BYTE(v >> 16), BYTE(v >> 24)};
}

Bytes Text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

} // namespace

TEST(WrongTypedSettings, BothDeliverablesGoOnWithTheDefaults) {
    Installation install("zws");
    ASSERT_TRUE(install.Ready());
    std::string reply = RatesReply(kPage);
    LoopbackHttpServer server(reply);
    ASSERT_TRUE(server.Listening()) << "port 80 is taken";
    Listener listener;
    ASSERT_TRUE(listener.window);

    // Each value has the shape that would mislead a reader that ignores type and size: the
    // number 1 for "startup", a folder far past the path buffer, a live window's handle as text,
    // and this very moment as text, which read as a number would mean "updated today".
    std::string longFolder =
        install.Folder() + "\\" + std::string(299 - install.Folder().size(), 'x');
    ASSERT_EQ(300u, longFolder.size());
    WriteSetting("startup", REG_DWORD, Le32(1));
    WriteSetting("target", REG_SZ, Text(longFolder));
    WriteSetting("hwnd", REG_SZ, Le32(DWORD(UINT_PTR(listener.window))));
    WriteSetting("lastupdate", REG_SZ, Le32(DWORD(time(nullptr))));
    Bytes waiting = RatesFileFor(kRatesBody);
    ASSERT_TRUE(WriteBytes(install.RatesPath(), waiting));

    // The conduit before any agent start: a clear outcome, the file and the handheld untouched,
    // nobody told.
    ProgramRun early = install.HotSync();
    EXPECT_TRUE(early.exitCode == 0 || (early.exitCode >= 4371 && early.exitCode <= 4394))
        << "exit code " << early.exitCode << "\n"
        << early.output;
    EXPECT_NE(std::string::npos, early.output.find("Closing connection")) << early.output;
    Bytes left;
    ASSERT_TRUE(ReadBytes(install.RatesPath(), &left));
    EXPECT_EQ(waiting, left);
    std::vector<Bytes> records;
    ASSERT_TRUE(install.HandheldRecords(&records));
    EXPECT_TRUE(records.empty());
    EXPECT_EQ(0, Listener::heard);
    ASSERT_TRUE(DeleteFileA(install.RatesPath().c_str()));

    // "startup" as a number is off: a start at Windows start-up ends at once.
    {
        AgentProcess silent(5000);
        ASSERT_TRUE(silent.Start(install.AgentPath(), "-silent"));
        DWORD code = 1;
        EXPECT_TRUE(silent.WaitExit(5000, &code));
        EXPECT_EQ(0u, code);
    }

    // A start by the user: the agent downloads, as it would with no "lastupdate", and stores
    // its own values with their own types.
    AgentProcess agent(5000);
    ASSERT_TRUE(agent.Start(install.AgentPath()));
    HWND window = agent.WaitWindow(10000);
    ASSERT_TRUE(window);
    ASSERT_TRUE(WaitFor([&] { return FileExists(install.RatesPath()); }, 15000)) << "no download";
    Sleep(300); // "lastupdate" follows the file
    Bytes written;
    ASSERT_TRUE(ReadBytes(install.RatesPath(), &written));
    Bytes body = RatesBodyOf(kPage);
    ASSERT_LE(12u, written.size());
    EXPECT_EQ(body, Bytes(written.begin() + 12, written.end())) << "after the 12-byte header";
    EXPECT_EQ(1, server.Requests());

    DWORD type = 0;
    Bytes value;
    ASSERT_TRUE(ReadSetting("target", &type, &value));
    EXPECT_EQ(DWORD(REG_SZ), type);
    // Wine's registry hands texts back with a terminator even when none was stored.
    EXPECT_EQ(install.RatesFolder(), std::string(value.begin(), value.end()).c_str());
    ASSERT_TRUE(ReadSetting("hwnd", &type, &value));
    EXPECT_EQ(DWORD(REG_DWORD), type);
    EXPECT_EQ(Le32(DWORD(UINT_PTR(window))), value);
    ASSERT_TRUE(ReadSetting("lastupdate", &type, &value));
    EXPECT_EQ(DWORD(REG_DWORD), type);
    EXPECT_EQ(4u, value.size());

    // Now the conduit finds the file through the user's rates folder and tells the agent.
    ProgramRun sync = install.HotSync();
    EXPECT_EQ(0u, sync.exitCode) << sync.output;
    ASSERT_TRUE(install.HandheldRecords(&records));
    ASSERT_EQ(1u, records.size());
    EXPECT_EQ(body, records[0]);
    EXPECT_FALSE(FileExists(install.RatesPath()));
    EXPECT_EQ(0, Listener::heard);
    EXPECT_TRUE(agent.End()) << "the agent did not take its Exit command";

    DeleteSetting("startup");
    DeleteSetting("hwnd");
    DeleteSetting("lastupdate");
}
