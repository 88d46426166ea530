#include "tests/win/conduit/hotsync_fixture.h"

#include "palmsim/palmsim.h"

const Lines kFullCopy = {"Opening connection",         "verifying local database",
                         "searching palm database",    "opening database",
                         "clearing handheld database", "updating currencies",
                         "closing database",           "Closing connection"};
const Lines kUpToDate = {"Opening connection", "verifying local database",
                         "currencies are up-to-date", "Closing connection"};

Lines Calls(const Lines& log, const std::string& word) {
    Lines found;
    for (const std::string& l : log)
        if (l.compare(0, word.size() + 1, word + " ") == 0 || l == word) found.push_back(l);
    return found;
}

Lines BlocksOf(const Lines& log, const std::string& word) {
    Lines blocks;
    for (const std::string& l : Calls(log, word)) {
        size_t at = l.find(" bytes=");
        blocks.push_back(at == std::string::npos ? "(none)" : l.substr(at + 7));
    }
    return blocks;
}

std::string Packed(const char* spaced) {
    std::string hex;
    for (const char* c = spaced; *c; ++c)
        if (*c != ' ') hex += *c;
    return hex;
}

std::vector<WPARAM> SyncWatcher::received;

LRESULT CALLBACK SyncWatcher::Proc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    static UINT syncMessage = RegisterWindowMessageA("zlv_kelpo_palm_synch");
    if (m == syncMessage) {
        received.push_back(wp);
        return 0;
    }
    return DefWindowProcA(w, m, wp, lp);
}

HWND SyncWatcher::Create() {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = Proc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "ZlvSyncWatcher";
    RegisterClassA(&wc);
    received.clear();
    return CreateWindowA("ZlvSyncWatcher", "", 0, 0, 0, 0, 0, nullptr, nullptr, wc.hInstance,
                         nullptr);
}

HotSync::HotSync()
    : root("hotsync"), install(root.Path("install")), handheld(root.Path("handheld")),
      log(root.Path("sync.log")), handheldEnv("ZLV_HANDHELD_DIR", handheld),
      logEnv("ZLV_SYNC_LOG", log), failEnv("ZLV_SYNC_FAIL", ""), savedTarget("target"),
      savedWindow("hwnd") {}

void HotSync::SetUp() {
    CreateDirectoryA(install.c_str(), nullptr);
    CreateDirectoryA(handheld.c_str(), nullptr);
    ASSERT_TRUE(CopyFileA((BuildFolder() + "\\conduit.dll").c_str(),
                          (install + "\\conduit.dll").c_str(), FALSE));
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, PALMSIM_CONDUITS_KEY "\\ZLVA", 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(key, "Folder", 0, REG_SZ, reinterpret_cast<const BYTE*>(install.c_str()),
                   DWORD(install.size() + 1));
    RegSetValueExA(key, "File", 0, REG_SZ, reinterpret_cast<const BYTE*>("conduit.dll"), 12);
    RegCloseKey(key);
    SetTarget(install);
    DeleteSetting("hwnd");
}

void HotSync::InstallDatabase(const std::string& args) {
    ASSERT_EQ(RunHotSync("--install-db " + args).exitCode, 0u);
}

pdb::Database HotSync::Handheld() {
    pdb::Database db;
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((handheld + "\\*.pdb").c_str(), &fd);
    EXPECT_NE(h, INVALID_HANDLE_VALUE) << "no database on the handheld";
    if (h == INVALID_HANDLE_VALUE) return db;
    FindClose(h);
    Bytes bytes;
    std::string error;
    EXPECT_TRUE(ReadBytes(handheld + "\\" + fd.cFileName, &bytes));
    EXPECT_TRUE(pdb::Parse(bytes.data(), bytes.size(), &db, &error)) << error;
    return db;
}

Bytes HotSync::OnlyRecord() {
    pdb::Database db = Handheld();
    EXPECT_EQ(db.records.size(), 1u) << "records on the handheld";
    return db.records.size() == 1 ? db.records[0].data : Bytes();
}

Bytes HotSync::HandheldFile() {
    Bytes bytes;
    ReadBytes(handheld + "\\ZLV Currencies.pdb", &bytes);
    return bytes;
}
