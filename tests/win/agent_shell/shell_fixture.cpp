#include "tests/win/agent_shell/shell_fixture.h"

#include <stdlib.h>
#include <string.h>

#include "agent/shell/main_window.h"
#include "agent/shell/settings.h"
#include "agent/update/downloader.h"

std::vector<TrayCall> g_trayCalls;
time_t g_fakeNow;

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

HKEY OpenKey() {
    HKEY key = nullptr;
    RegCreateKeyExA(HKEY_LOCAL_MACHINE, ZLV_SETTINGS_KEY, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                    &key, nullptr);
    return key;
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

void DeleteTree(const std::string& folder) {
    WIN32_FIND_DATAA found;
    HANDLE h = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            std::string name = found.cFileName;
            if (name == "." || name == "..") continue;
            std::string path = folder + "\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                DeleteTree(path);
            else
                DeleteFileA(path.c_str());
        } while (FindNextFileA(h, &found));
        FindClose(h);
    }
    RemoveDirectoryA(folder.c_str());
}

} // namespace

void SetFlag(const char* name, const char* text) {
    char data[4] = {0, 0, 0, 0};
    strncpy(data, text, sizeof data);
    HKEY key = OpenKey();
    ASSERT_TRUE(key);
    RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<BYTE*>(data), 4);
    RegCloseKey(key);
}

void SetDword(const char* name, DWORD value) {
    HKEY key = OpenKey();
    ASSERT_TRUE(key);
    RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<BYTE*>(&value), 4);
    RegCloseKey(key);
}

bool ReadDword(const char* name, DWORD* value) {
    HKEY key = OpenKey();
    if (!key) return false;
    DWORD type = 0, size = sizeof *value;
    LONG rc = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS && type == REG_DWORD && size == 4;
}

std::string ReadRaw(const char* name) {
    HKEY key = OpenKey();
    if (!key) return "";
    char data[64];
    DWORD type = 0, size = sizeof data;
    LONG rc = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS ? std::string(data, size) : std::string();
}

void DeleteSetting(const char* name) {
    HKEY key = OpenKey();
    if (!key) return;
    RegDeleteValueA(key, name);
    RegCloseKey(key);
}

std::string LoadText(UINT id) {
    char text[512] = {0};
    LoadStringA(GetModuleHandleA(nullptr), id, text, sizeof text);
    return text;
}

bool FileExists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void WriteFileText(const std::string& path, const std::string& text) {
    HANDLE f = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, f) << path;
    DWORD written = 0;
    WriteFile(f, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(f);
}

HttpServer::HttpServer(const std::string& reply) : reply_(reply) {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    listener_ = socket(AF_INET, SOCK_STREAM, 0);
    BOOL reuse = TRUE;
    setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<char*>(&reuse), sizeof reuse);
    sockaddr_in address;
    ZeroMemory(&address, sizeof address);
    address.sin_family = AF_INET;
    address.sin_port = htons(80);
    address.sin_addr.s_addr = inet_addr("127.0.0.1");
    if (bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener_, 8) != 0) {
        closesocket(listener_);
        listener_ = INVALID_SOCKET;
        return;
    }
    stop_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    thread_ = CreateThread(nullptr, 0, Run, this, 0, nullptr);
}

HttpServer::~HttpServer() {
    if (thread_) {
        SetEvent(stop_);
        WaitForSingleObject(thread_, INFINITE);
        CloseHandle(thread_);
    }
    if (stop_) CloseHandle(stop_);
    if (listener_ != INVALID_SOCKET) closesocket(listener_);
    WSACleanup();
}

DWORD WINAPI HttpServer::Run(void* self) {
    HttpServer* server = static_cast<HttpServer*>(self);
    std::vector<SOCKET> silent;
    while (WaitForSingleObject(server->stop_, 0) == WAIT_TIMEOUT) {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(server->listener_, &readable);
        timeval wait = {0, 20000};
        if (select(0, &readable, nullptr, nullptr, &wait) <= 0) continue;
        SOCKET client = accept(server->listener_, nullptr, nullptr);
        if (client == INVALID_SOCKET) continue;
        InterlockedIncrement(&server->connections_);
        if (server->reply_.empty())
            silent.push_back(client);
        else
            server->Serve(client);
    }
    for (SOCKET s : silent)
        closesocket(s);
    return 0;
}

void HttpServer::Serve(SOCKET client) {
    // Read the whole request first: closing over unread bytes would reset the connection.
    std::string request;
    char buffer[256];
    while (request.find("\r\n\r\n") == std::string::npos) {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(client, &readable);
        timeval wait = {5, 0};
        if (select(0, &readable, nullptr, nullptr, &wait) <= 0) break;
        int n = recv(client, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        request.append(buffer, n);
    }
    if (request.find("\r\n\r\n") != std::string::npos) {
        InterlockedIncrement(&requests_);
        send(client, reply_.data(), static_cast<int>(reply_.size()), 0);
    }
    shutdown(client, SD_SEND);
    closesocket(client);
}

BlackHoleServer::BlackHoleServer() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    listener_ = socket(AF_INET, SOCK_STREAM, 0);
    BOOL reuse = TRUE;
    setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<char*>(&reuse), sizeof reuse);
    sockaddr_in address;
    ZeroMemory(&address, sizeof address);
    address.sin_family = AF_INET;
    address.sin_port = htons(80);
    address.sin_addr.s_addr = inet_addr("127.0.0.1");
    if (bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener_, 0) != 0)
        return;
    // Connect until one gets no answer: from then on the queue drops every new attempt.
    for (int i = 0; i < 16 && !swallowing_; ++i) {
        SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
        u_long nonBlocking = 1;
        ioctlsocket(s, FIONBIO, &nonBlocking);
        connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address);
        fd_set writable;
        FD_ZERO(&writable);
        FD_SET(s, &writable);
        timeval wait = {0, 300000};
        swallowing_ = select(0, nullptr, &writable, nullptr, &wait) == 0;
        fillers_.push_back(s);
    }
}

BlackHoleServer::~BlackHoleServer() {
    for (SOCKET s : fillers_)
        closesocket(s);
    if (listener_ != INVALID_SOCKET) closesocket(listener_);
    WSACleanup();
}

void ShellTest::SetUp() {
    ASSERT_EQ(nullptr, g_agent.downloader);
    ZeroMemory(&g_agent, sizeof g_agent);
    g_trayCalls.clear();
    noticesSeen_ = 0;
    g_fakeNow = time(nullptr);
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

    DeleteSetting("tooltip");
    DeleteSetting("startup");
    DeleteSetting("lastupdate");

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
    delete g_agent.downloader;
    g_agent.downloader = nullptr;
    delete g_agent.retiredDownloader;
    g_agent.retiredDownloader = nullptr;
    free(g_agent.trayRecord);
    g_agent.trayRecord = nullptr;
    if (g_agent.menu) DestroyMenu(g_agent.menu);
    free(g_agent.agentFolder);
    g_agent.agentFolder = nullptr;
    if (!folder_.empty() && folder_.size() < MAX_PATH) DeleteTree(folder_);
    DeleteSetting("tooltip");
    DeleteSetting("startup");
    DeleteSetting("lastupdate");
}

void ShellTest::SetAgentFolder(const std::string& folder) {
    free(g_agent.agentFolder);
    g_agent.agentFolder = _strdup(folder.c_str());
    if (folder_.empty()) folder_ = folder;
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
