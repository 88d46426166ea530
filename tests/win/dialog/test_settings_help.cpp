// Help in the settings dialog, with the stand-in HotSync Manager as the host: which help file
// WinHelp is asked for, or which program the shell is asked to start for the manual. A viewer
// window of this test takes the WinHelp requests (this thread answers them while the host runs),
// a recorder program the shell's starts. The help file may only come from the user's Palm
// Desktop folder on a fixed drive, never from beside conduit.dll or a share; "target" names a
// folder of another's choosing, with a manual of its own: only the one installed beside
// conduit.dll may open.
#include <windows.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "tests/win/common/configure_host.h"
#include "tests/win/common/file_helpers.h"
#include "tests/win/common/palm_desktop.h"
#include "tests/win/common/registry_helpers.h"
#include "tests/win/common/wine_share.h"

namespace {

const char kManual[] = "Zelvantic for Palm Product Manual.pdf";
const char kHostVersion[] = "Software\\Wine\\AppDefaults\\hotsync.exe";
const char kReaderClass[] = "ZlvTest.PdfReader";

struct Request {
    std::string file;
    WORD command;
    LONG data;
};

// Takes WinHelp's requests: the system finds the viewer by its class and copies each one to it.
struct Viewer {
    HWND window = nullptr;
    std::vector<Request> requests;
    BOOL answer = TRUE; // what a viewer that opened the file says
    Viewer();
    ~Viewer() {
        if (window) DestroyWindow(window);
    }
};

LRESULT CALLBACK ViewerProc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    Viewer* viewer = reinterpret_cast<Viewer*>(GetWindowLongPtrA(w, GWLP_USERDATA));
    if (m != WM_COPYDATA || !viewer) return DefWindowProcA(w, m, wp, lp);
    // Size, command, data, reserved, then the offset of the file name.
    const COPYDATASTRUCT* copy = reinterpret_cast<const COPYDATASTRUCT*>(lp);
    const BYTE* p = static_cast<const BYTE*>(copy->lpData);
    if (copy->cbData < 16) return FALSE;
    Request r;
    WORD ofsFile = 0;
    memcpy(&r.command, p + 2, 2);
    memcpy(&r.data, p + 4, 4);
    memcpy(&ofsFile, p + 12, 2);
    if (ofsFile && ofsFile < copy->cbData)
        r.file.assign(reinterpret_cast<const char*>(p + ofsFile),
                      strnlen(reinterpret_cast<const char*>(p + ofsFile), copy->cbData - ofsFile));
    viewer->requests.push_back(r);
    return viewer->answer;
}

Viewer::Viewer() {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = ViewerProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "MS_WINHELP";
    RegisterClassA(&wc); // fails harmlessly from the second viewer on: the class stays
    window =
        CreateWindowA("MS_WINHELP", "", 0, 0, 0, 0, 0, nullptr, nullptr, wc.hInstance, nullptr);
    if (window) SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

void SetDefault(HKEY root, const std::string& key, const char* name, const std::string& text) {
    HKEY k;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(root, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                             nullptr, &k, nullptr))
        << key;
    RegSetValueExA(k, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                   static_cast<DWORD>(text.size() + 1));
    RegCloseKey(k);
}

bool ReadDefault(HKEY root, const char* key, std::string* text) {
    char data[512] = {};
    LONG size = sizeof data - 1;
    if (RegQueryValueA(root, key, data, &size) != ERROR_SUCCESS) return false;
    *text = data;
    return true;
}

// How the user's registry names the Palm Desktop: its folder, where the host lies, by "Path" or
// by the host's own "HotSyncPath"; or a share by "Path".
enum PalmNamed { kByPath, kByHotSyncPath, kShareByPath };
enum ShellAsked { kNothing, kAcrobatAtTheHotSyncPage, kReaderWithTheManual };

// What a case sets up around the dialog, and what Help then asks of WinHelp and of the shell.
struct Case {
    const char* name;
    bool beforeVista;
    PalmNamed palm;
    bool helpInPalm, helpBesideConduit, manual; // a share, when named, always has one
    const char* reader;                         // the program ".pdf" opens with, or null for none
    BOOL viewerAnswer;
    bool palmHelpAsked; // WinHelp is asked for the Palm Desktop folder's help file
    ShellAsked shell;
};

struct Outcome {
    std::vector<Request> requests;
    std::string shell; // command lines the recorder was started with
};

class SettingsHelp : public ::testing::Test {
  protected:
    void SetUp() override {
        build = BuildFolder();
        std::string palm = PalmFolder();
        for (const std::string& f :
             {palm + "\\hotsync.exe", palm + "\\sync20.dll", build + "\\conduit.dll",
              build + "\\tests\\shell_recorder.exe"})
            ASSERT_TRUE(FileExists(f)) << f << " is not there";
        for (auto [from, name, to] :
             {std::tuple<std::string, const char*, const TempFolder*>{palm, "hotsync.exe", &host},
              {palm, "sync20.dll", &host},
              {build, "conduit.dll", &agent}})
            ASSERT_TRUE(CopyFileA((from + "\\" + name).c_str(), to->Path(name).c_str(), FALSE));
        ASSERT_TRUE(WriteSetting("target", REG_SZ, planted.path.c_str(),
                                 static_cast<DWORD>(planted.path.size())));
        for (const char* f : {kManual, "hotsync.hlp"})
            ASSERT_TRUE(WriteBytes(planted.Path(f), Bytes{'z', 'l', 'v'}));
        ASSERT_FALSE(share.folder.empty()) << "no Wine prefix to share a folder from";
        ASSERT_TRUE(WriteBytes(share.folder + "\\hotsync.hlp", Bytes{'z', 'l', 'v'}));
        ASSERT_TRUE(FileExists(kShare + std::string("\\hotsync.hlp"))) << "the share is not served";
        hadPdf = ReadDefault(HKEY_CLASSES_ROOT, ".pdf", &oldPdf);
    }
    void TearDown() override {
        RegDeleteKeyA(HKEY_CURRENT_USER, kHostVersion);
        for (const char* sub : {"\\shell\\open\\command", "\\shell\\open", "\\shell", ""})
            RegDeleteKeyA(HKEY_CLASSES_ROOT, (std::string(kReaderClass) + sub).c_str());
        if (hadPdf)
            SetDefault(HKEY_CLASSES_ROOT, ".pdf", nullptr, oldPdf);
        else
            RegDeleteKeyA(HKEY_CLASSES_ROOT, ".pdf");
    }

    void Place(const std::string& path, bool wanted) {
        if (!wanted) {
            DeleteFileA(path.c_str());
            return;
        }
        ASSERT_TRUE(WriteBytes(path, Bytes{'z', 'l', 'v'})) << path;
    }

    std::string ReaderPath(const char* name) const { return readers.Path(name); }

    void Prepare(const Case& c) {
        const std::string program = host.Path("hotsync.exe");
        named.reset();
        named.reset(c.palm == kByPath          ? new NamedPalmDesktop(host.path.c_str(), nullptr)
                    : c.palm == kByHotSyncPath ? new NamedPalmDesktop(nullptr, program.c_str())
                                               : new NamedPalmDesktop(kShare, nullptr));
        Place(host.Path("hotsync.hlp"), c.helpInPalm);
        Place(agent.Path("hotsync.hlp"), c.helpBesideConduit);
        Place(agent.Path(kManual), c.manual);
        if (c.beforeVista)
            SetDefault(HKEY_CURRENT_USER, kHostVersion, "Version", "winxp");
        else
            RegDeleteKeyA(HKEY_CURRENT_USER, kHostVersion);
        if (c.reader) {
            ASSERT_TRUE(CopyFileA((build + "\\tests\\shell_recorder.exe").c_str(),
                                  ReaderPath(c.reader).c_str(), FALSE));
            SetDefault(HKEY_CLASSES_ROOT, ".pdf", nullptr, kReaderClass);
            SetDefault(HKEY_CLASSES_ROOT, std::string(kReaderClass) + "\\shell\\open\\command",
                       nullptr, "\"" + ReaderPath(c.reader) + "\" \"%1\"");
        } else {
            RegDeleteKeyA(HKEY_CLASSES_ROOT, ".pdf");
        }
        DeleteFileA(log.c_str());
    }

    // hotsync --configure, Help, then Cancel, while this thread takes the viewer's requests.
    Outcome Run(const Case& c) {
        Outcome out;
        Viewer viewer;
        viewer.answer = c.viewerAnswer;
        EXPECT_TRUE(viewer.window);
        ScopedEnv shellLog("ZLV_SHELL_LOG", log);
        std::string failure = RunConfigureHost(host.path, agent.path, [](HWND dialog) {
            PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(9, BN_CLICKED),
                         reinterpret_cast<LPARAM>(GetDlgItem(dialog, 9)));
        });
        EXPECT_EQ("", failure) << c.name;
        if (c.reader) WaitForReaders(c.reader);
        out.requests = viewer.requests;
        Bytes bytes;
        if (ReadBytes(log, &bytes)) out.shell.assign(bytes.begin(), bytes.end());
        return out;
    }

    // A reader the shell started is a process by now; its note is complete once it has ended.
    static void WaitForReaders(const char* name) {
        for (int i = 0; i < 250; ++i) {
            HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
            PROCESSENTRY32 e = {};
            e.dwSize = sizeof e;
            bool running = false;
            for (BOOL more = Process32First(snapshot, &e); more && !running;
                 more = Process32Next(snapshot, &e))
                running = !lstrcmpiA(e.szExeFile, name);
            CloseHandle(snapshot);
            if (!running) return;
            Sleep(20);
        }
        ADD_FAILURE() << name << " did not end";
    }

    std::string build;
    TempFolder host{"help-host"}, agent{"help-agent"}, readers{"help-readers"};
    TempFolder planted{"help-planted"}; // what "target" names
    static constexpr const char* kShare = "\\\\zlvhelp\\palm";
    WineShare share{"zlvhelp", "palm"};
    std::unique_ptr<NamedPalmDesktop> named;
    std::string log = readers.Path("shell.log");
    SavedSetting target{"target"};
    bool hadPdf = false;
    std::string oldPdf;
};

// The manual at its HotSync page, as Acrobat is told it on its command line.
std::string AcrobatSuffix(const std::string& agentFolder) {
    return " /A \"nameddest=hotsync\" \"" + agentFolder + "\\" + kManual + "\"\n";
}

bool EndsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

TEST_F(SettingsHelp, TheHelpFileBeforeVistaElseTheManual) {
    const Case kCases[] = {
        // Before Windows Vista the help file of the Palm Desktop folder, however it is named.
        {"both", true, kByPath, true, true, true, "AcroRd32.exe", TRUE, true, kNothing},
        {"named by the HotSync Manager", true, kByHotSyncPath, true, false, true, "AcroRd32.exe",
         TRUE, true, kNothing},
        // Never the one beside the conduit, nor a share's: the manual instead.
        {"beside the conduit", true, kByPath, false, true, true, "AcroRd32.exe", TRUE, false,
         kAcrobatAtTheHotSyncPage},
        {"on a share", true, kShareByPath, false, true, true, "AcroRd32.exe", TRUE, false,
         kAcrobatAtTheHotSyncPage},
        // A help file the viewer cannot open: the manual instead.
        {"refused", true, kByPath, true, false, true, "AcroRd32.exe", FALSE, true,
         kAcrobatAtTheHotSyncPage},
        // From Vista on WinHelp files do not open, even where the Palm Desktop has one.
        {"acrobat", false, kByPath, true, true, true, "AcroRd32.exe", TRUE, false,
         kAcrobatAtTheHotSyncPage},
        // Any other reader gets the file as the shell opens documents.
        {"other reader", false, kByPath, false, false, true, "reader.exe", TRUE, false,
         kReaderWithTheManual},
        // Only the manual where "target" points: nothing opens.
        {"no manual", false, kByPath, true, true, false, "reader.exe", TRUE, false, kNothing},
        {"neither file", true, kByPath, false, false, false, "reader.exe", TRUE, false, kNothing},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        Prepare(c);
        Outcome o = Run(c);
        if (!c.palmHelpAsked) {
            EXPECT_TRUE(o.requests.empty());
        } else {
            ASSERT_EQ(1u, o.requests.size());
            EXPECT_EQ(host.Path("hotsync.hlp"), o.requests[0].file);
            EXPECT_EQ(HELP_CONTEXT, o.requests[0].command);
            EXPECT_EQ(0x2018F, o.requests[0].data);
        }
        switch (c.shell) {
        case kNothing:
            EXPECT_EQ("", o.shell);
            break;
        case kAcrobatAtTheHotSyncPage:
            EXPECT_TRUE(EndsWith(o.shell, AcrobatSuffix(agent.path))) << o.shell;
            EXPECT_NE(std::string::npos, o.shell.find(ReaderPath("AcroRd32.exe"))) << o.shell;
            EXPECT_EQ(1, std::count(o.shell.begin(), o.shell.end(), '\n')) << o.shell;
            break;
        case kReaderWithTheManual:
            EXPECT_EQ("\"" + ReaderPath("reader.exe") + "\" \"" + agent.Path(kManual) + "\"\n",
                      o.shell);
            break;
        }
    }
}

} // namespace
