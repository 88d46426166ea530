// Libraries planted beside agent.exe and conduit.dll, and in the folder either is started from,
// under names they load or import or that Windows' own libraries look for: none is ever loaded
// while the agent starts, downloads and tells of a HotSync that runs the conduit, nor when a
// library inside the running agent loads one of those names bare, as Windows' own do.
//
// Wine prefers its own built-in copy of a system library to a file of that name found beside a
// program; Windows takes the file, unless the name is a known system library. While the plants
// are out, Wine's DLL overrides (HKCU\Software\Wine\DllOverrides) name them "native first",
// which makes Wine search as Windows does. (WINEDLLOVERRIDES in the environment of a process
// that a Windows program starts was measured to reach its LoadLibrary calls but not its imports.)
// version.dll and imm32.dll are left out: Wine's own libraries import them in every program (imm32
// is a known library on Windows anyway), so a plant of them would be loaded whatever the agent
// does; the import table check (tests/scripts/test_binaries.sh) covers them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/win/common/palm_desktop.h"
#include "tests/win/common/ui_helpers.h"
#include "tests/win/hardening/harness.h"

namespace {

// Names a careless program or conduit would be caught by. Those with a built-in Wine copy need
// the override; the Palm libraries have none, so a file of theirs is always taken.
const char* const kBuiltInNames[] = {"msimg32", "comctl32", "winmm",
                                     "dwmapi",  "shfolder", "wsock32"};
const char* const kPalmNames[] = {"condmgr", "sync20"};

const std::string kTwoRatePage = "USD\tUS Dollar\t1.0000\nEUR\tEuro\t0.9215\n";

std::vector<std::string> AllNames() {
    std::vector<std::string> names(std::begin(kBuiltInNames), std::end(kBuiltInNames));
    names.insert(names.end(), std::begin(kPalmNames), std::end(kPalmNames));
    return names;
}

// Wine's overrides for the built-in names, native first, for as long as it lives.
class NativeFirst {
  public:
    NativeFirst() {
        if (RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_,
                            nullptr) != ERROR_SUCCESS)
            return;
        for (const char* name : kBuiltInNames)
            ok_ &= RegSetValueExA(key_, name, 0, REG_SZ,
                                  reinterpret_cast<const BYTE*>("native,builtin"),
                                  15) == ERROR_SUCCESS;
    }
    ~NativeFirst() {
        if (!key_) return;
        for (const char* name : kBuiltInNames)
            RegDeleteValueA(key_, name);
        RegCloseKey(key_);
    }
    bool Set() const { return key_ && ok_; }

  private:
    static constexpr const char* kKey = "Software\\Wine\\DllOverrides";
    HKEY key_ = nullptr;
    bool ok_ = true;
};

// A marker under each name in folder.
bool Plant(const std::string& folder) {
    bool ok = true;
    std::string marker = BuildFolder() + "\\tests\\plant_marker.dll";
    for (const std::string& name : AllNames())
        ok &= CopyFileA(marker.c_str(), (folder + "\\" + name + ".dll").c_str(), FALSE) != 0;
    return ok;
}

// The marks left in folder, by the name of the library that left each.
std::vector<std::string> Marks(const std::string& folder) {
    std::vector<std::string> marks;
    WIN32_FIND_DATAA found;
    HANDLE h = FindFirstFileA((folder + "\\*.mark").c_str(), &found);
    if (h == INVALID_HANDLE_VALUE) return marks;
    do
        marks.push_back(found.cFileName);
    while (FindNextFileA(h, &found));
    FindClose(h);
    return marks;
}

void ClearMarks(const std::string& folder) {
    for (const std::string& mark : Marks(folder))
        DeleteFileA((folder + "\\" + mark).c_str());
}

std::string Joined(const std::vector<std::string>& items) {
    std::string text;
    for (const std::string& item : items)
        text += (text.empty() ? "" : " ") + item;
    return text.empty() ? "(none)" : text;
}

bool Marked(const std::string& folder, const std::string& name) {
    return FileExists(folder + "\\" + name + ".dll.mark");
}

// LoadLibraryA of a bare name on a thread of the running process, as a library of Windows' own
// would call it there; true when something of that name was loaded. kernel32 lies at the same
// address in every process of the session.
bool LoadedInside(HANDLE process, const std::string& name) {
    const SIZE_T size = name.size() + 1;
    void* text = VirtualAllocEx(process, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    if (!text || !WriteProcessMemory(process, text, name.c_str(), size, nullptr)) {
        ADD_FAILURE() << "cannot write into the agent: " << GetLastError();
        return false;
    }
    auto load = reinterpret_cast<LPTHREAD_START_ROUTINE>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "LoadLibraryA")));
    HANDLE thread = CreateRemoteThread(process, nullptr, 0, load, text, 0, nullptr);
    DWORD module = 0;
    EXPECT_TRUE(thread && WaitForSingleObject(thread, 10000) == WAIT_OBJECT_0 &&
                GetExitCodeThread(thread, &module))
        << "no thread ran in the agent";
    if (thread) CloseHandle(thread);
    VirtualFreeEx(process, text, 0, MEM_RELEASE);
    return module != 0;
}

// Runs the program at path in folder (its working folder) and waits for its end.
ProgramRun RunIn(const std::string& folder, const std::string& path, const std::string& args) {
    char old[MAX_PATH] = {};
    GetCurrentDirectoryA(sizeof old, old);
    SetCurrentDirectoryA(folder.c_str());
    ProgramRun run = RunProgram(path, args);
    SetCurrentDirectoryA(old);
    return run;
}

} // namespace

TEST(PlantedLibraries, AreNeverLoadedByTheAgentOrTheConduit) {
    Installation install("zpl");
    ASSERT_TRUE(install.Ready());
    TempFolder elsewhere("zpw"), careless("zpc");
    NativeFirst overrides;
    ASSERT_TRUE(overrides.Set());
    ASSERT_TRUE(Plant(install.Folder()));
    ASSERT_TRUE(Plant(elsewhere.path));

    // First that the plants can be caught: a program that imports msimg32 and loads the names
    // bare takes each from its own folder, and a name no system folder holds from the folder it
    // runs in.
    std::string probe = careless.Path("plant_probe.exe");
    ASSERT_TRUE(
        CopyFileA((BuildFolder() + "\\tests\\plant_probe.exe").c_str(), probe.c_str(), FALSE));
    ASSERT_TRUE(Plant(careless.path));
    std::string bare;
    for (const std::string& name : AllNames())
        bare += " " + name + ".dll";
    ProgramRun own = RunIn(elsewhere.path, probe, bare);
    EXPECT_EQ(0u, own.exitCode) << own.output;
    for (const std::string& name : AllNames())
        EXPECT_TRUE(Marked(careless.path, name)) << name << " beside the program was not loaded\n"
                                                 << own.output;
    ClearMarks(careless.path);
    ClearMarks(elsewhere.path);
    DeleteFileA((careless.path + "\\condmgr.dll").c_str());
    DeleteFileA((careless.path + "\\sync20.dll").c_str());
    RunIn(elsewhere.path, probe, " condmgr.dll");
    EXPECT_TRUE(Marked(elsewhere.path, "condmgr")) << "the working folder was not searched";
    ClearMarks(careless.path);
    ClearMarks(elsewhere.path);

    // The agent, started from the other folder: it starts, registers the conduit, downloads.
    LoopbackHttpServer server(RatesReply(kTwoRatePage));
    ASSERT_TRUE(server.Listening()) << "port 80 is taken";
    SavedSetting tooltip("tooltip"), startup("startup"), hwnd("hwnd"), last("lastupdate");
    SetFlagText("tooltip", "1"); // the HotSync's outcome becomes a notice
    DeleteSetting("lastupdate");
    AgentProcess agent(5000);
    ASSERT_TRUE(agent.Start(install.AgentPath(), "", elsewhere.path));
    ASSERT_TRUE(agent.WaitWindow(10000)) << "the agent did not start";
    ASSERT_TRUE(WaitFor([&] { return FileExists(install.RatesPath()); }, 15000)) << "no download";
    // Windows has its own copy of each built-in name, and none of the Palm names.
    for (const char* name : kBuiltInNames)
        EXPECT_TRUE(LoadedInside(agent.Process(), std::string(name) + ".dll")) << name;
    for (const char* name : kPalmNames)
        EXPECT_FALSE(LoadedInside(agent.Process(), std::string(name) + ".dll")) << name;

    // A HotSync from that folder too: the conduit registered beside the plants takes the rates.
    install.RegisterConduitHere();
    ProgramRun sync = RunIn(elsewhere.path, PalmFolder() + "\\hotsync.exe", "");
    EXPECT_EQ(0u, sync.exitCode) << sync.output;
    std::vector<Bytes> records;
    ASSERT_TRUE(install.HandheldRecords(&records));
    ASSERT_EQ(1u, records.size());
    EXPECT_EQ(RatesBodyOf(kTwoRatePage), records[0]);
    EXPECT_FALSE(FileExists(install.RatesPath()));
    Sleep(500); // the agent shows the outcome
    EXPECT_TRUE(agent.End()) << "the agent did not take its Exit command";

    EXPECT_EQ("(none)", Joined(Marks(install.Folder()))) << "loaded from beside the programs";
    EXPECT_EQ("(none)", Joined(Marks(elsewhere.path))) << "loaded from the working folder";
}
