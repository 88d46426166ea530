#include "tests/win/agent_shell/shell_fixture.h"

#include <stdlib.h>
#include <string.h>

#include "agent/shell/main_window.h"
#include "agent/shell/settings.h"
#include "agent/shell/startup.h"

std::vector<TrayCall> g_trayCalls;
time_t g_fakeNow;
AgentState g_atStart;

const char kRatesReply[] = "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n"
                           "USD\tUS Dollar\t1.0000\t1.0000\n"
                           "EUR\tEuro\t0.9100\t0.9200\n";
const char kUpdateReady[] = "Zelvantic update is now ready \nfor synchronization.   You can now "
                            "hot sync \nyour device to complete the updates.";
const char kSyncSucceeded[] =
    "Successfully updated the currency \ndatabase during hot sync operation.";

namespace {

BOOL WINAPI RecordNotify(DWORD message, PNOTIFYICONDATAA data) {
    TrayCall call;
    ZeroMemory(&call, sizeof call);
    call.message = message;
    if (data) {
        DWORD size = data->cbSize;
        if (size > sizeof call.data) size = sizeof call.data;
        memcpy(&call.data, data, size);
    }
    g_trayCalls.push_back(call);
    return TRUE;
}

time_t FakeClock(time_t* out) {
    if (out) *out = g_fakeNow;
    return g_fakeNow;
}

void RegisterTestClass() {
    static bool done = false;
    if (done) return;
    WNDCLASSEXA wc;
    ZeroMemory(&wc, sizeof wc);
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = MainWindowProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = ZLV_MAIN_WINDOW_CLASS;
    done = RegisterClassExA(&wc) != 0;
}

// Each case starts from, and leaves behind, a machine without the settings a case may write.
void ForgetSettings() {
    for (const char* name : {"tooltip", "startup", "lastupdate"})
        DeleteSetting(name);
}

} // namespace

std::string ReadRaw(const char* name) {
    DWORD type = 0;
    Bytes data;
    if (!ReadSetting(name, &type, &data)) return "";
    return std::string(data.begin(), data.end());
}

void WriteFileText(const std::string& path, const std::string& text) {
    ASSERT_TRUE(WriteBytes(path, Bytes(text.begin(), text.end()))) << path;
}

time_t LocalTime(int year, int month, int day, int hour, int minute, int second) {
    SYSTEMTIME local = {static_cast<WORD>(year),
                        static_cast<WORD>(month),
                        0,
                        static_cast<WORD>(day),
                        static_cast<WORD>(hour),
                        static_cast<WORD>(minute),
                        static_cast<WORD>(second),
                        0};
    SYSTEMTIME utc;
    FILETIME file;
    if (!TzSpecificLocalTimeToSystemTime(nullptr, &local, &utc) ||
        !SystemTimeToFileTime(&utc, &file))
        return 0;
    ULARGE_INTEGER t = {{file.dwLowDateTime, file.dwHighDateTime}};
    return static_cast<time_t>((t.QuadPart - 116444736000000000ULL) / 10000000ULL);
}

bool Checked(UINT id) {
    HMENU settings = GetSubMenu(g_agent.popupMenu, 3);
    return (GetMenuState(settings, id, MF_BYCOMMAND) & MF_CHECKED) != 0;
}

void ShellTest::SetUp() {
    ASSERT_EQ(nullptr, g_agent.downloader);
    static bool first = true;
    if (first) g_atStart = g_agent;
    first = false;
    ZeroMemory(&g_agent, sizeof g_agent);
    g_trayCalls.clear();
    noticesSeen_ = 0;
    g_fakeNow = LocalTime(2026, 3, 10, 10, 0);
    ASSERT_NE(0, g_fakeNow);
    g_agent.clock = FakeClock;
    g_agent.notify = RecordNotify;
    g_agent.instance = GetModuleHandleA(nullptr);
    g_agent.shellModule = GetModuleHandleA("shell32.dll"); // a shell with balloon tips
    g_agent.syncResultMessage = RegisterWindowMessageA("zlv_kelpo_palm_synch");
    g_agent.taskbarCreatedMessage = RegisterWindowMessageA("TaskbarCreated");
    g_agent.lastRecycleTime = g_fakeNow;
    for (int i = 0; i < kFrameCount; ++i)
        g_agent.frames[i] = FakeFrame(i);
    g_agent.menu = LoadMenuA(g_agent.instance, MAKEINTRESOURCEA(134));
    g_agent.popupMenu = GetSubMenu(g_agent.menu, 0);

    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    char unique[MAX_PATH];
    GetTempFileNameA(temp, "zlv", 0, unique);
    DeleteFileA(unique);
    CreateDirectoryA(unique, nullptr);
    SetAgentFolder(unique);
    std::string rates = std::string(unique) + "\\rates";
    CreateDirectoryA(rates.c_str(), nullptr);
    SetRatesFolder(rates);

    noDefaults_ = new MachineDefaults(nullptr, nullptr, false);
    ForgetSettings();

    RegisterTestClass();
    window_ = CreateWindowExA(0, ZLV_MAIN_WINDOW_CLASS, "kelpo", WS_POPUP | WS_CAPTION | WS_SYSMENU,
                              0, 0, 10, 10, nullptr, nullptr, g_agent.instance, nullptr);
    ASSERT_TRUE(window_);
    g_agent.mainWindow = window_;
}

void ShellTest::TearDown() {
    if (IsWindow(window_)) DestroyWindow(window_);
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    } // the Exit command's WM_QUIT among them
    // The frames are fake and shell32 was only looked up: neither is the agent's to give back.
    ZeroMemory(g_agent.frames, sizeof g_agent.frames);
    g_agent.shellModule = nullptr;
    CleanUpAgent();
    if (!folder_.empty() && folder_.size() < MAX_PATH) RemoveTree(folder_);
    ForgetSettings();
    delete noDefaults_;
    noDefaults_ = nullptr;
}

void ShellTest::SetAgentFolder(const std::string& folder) {
    free(g_agent.agentFolder);
    g_agent.agentFolder = _strdup(folder.c_str());
    if (folder_.empty()) folder_ = folder;
}

void ShellTest::SetRatesFolder(const std::string& folder) {
    free(g_agent.ratesFolder);
    g_agent.ratesFolder = _strdup(folder.c_str());
    if (ratesFolder_.empty()) ratesFolder_ = folder;
}

void ShellTest::UseShortRecord() {
    g_agent.shellModule = nullptr;
}

void ShellTest::Tick() {
    SendMessageA(window_, WM_TIMER, kTimerId, 0);
}

LRESULT ShellTest::Command(UINT id) {
    return SendMessageA(window_, WM_COMMAND, id, 0);
}

std::vector<TrayCall> ShellTest::TakeNotices() {
    std::vector<TrayCall> notices;
    for (; noticesSeen_ < g_trayCalls.size(); ++noticesSeen_) {
        const TrayCall& call = g_trayCalls[noticesSeen_];
        if (call.message == NIM_MODIFY && (call.data.uFlags & NIF_INFO)) notices.push_back(call);
    }
    return notices;
}
