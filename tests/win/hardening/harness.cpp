#include "tests/win/hardening/harness.h"

#include <stdio.h>
#include <string.h>

#include "palmsim/palmsim.h"
#include "palmsim/pdb_format.h"

namespace {

HKEY OpenSettings() {
    HKEY key = nullptr;
    RegCreateKeyExA(HKEY_LOCAL_MACHINE, ZLV_KEY, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                    nullptr);
    return key;
}

void RemoveTree(const std::string& path) {
    WIN32_FIND_DATAA found;
    HANDLE h = FindFirstFileA((path + "\\*").c_str(), &found);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            std::string name = found.cFileName;
            if (name == "." || name == "..") continue;
            std::string child = path + "\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(child);
            else
                DeleteFileA(child.c_str());
        } while (FindNextFileA(h, &found));
        FindClose(h);
    }
    RemoveDirectoryA(path.c_str());
}

} // namespace

const Bytes kRatesBody = [] {
    static const char kLines[] = "0002\0USD US Dollar\0"
                                 "1.0000\0"
                                 "EUR Euro\0"
                                 "0.9215\0";
    return Bytes(kLines, kLines + sizeof kLines - 1);
}();

std::string BuildFolder() {
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string self(path, n);
    std::string tests = self.substr(0, self.find_last_of('\\'));
    return tests.substr(0, tests.find_last_of('\\'));
}

bool ReadBytes(const std::string& path, Bytes* bytes) {
    bytes->clear();
    HANDLE f = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                           nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    DWORD size = GetFileSize(f, nullptr), got = 0;
    bytes->resize(size);
    bool ok = size == 0 || (ReadFile(f, bytes->data(), size, &got, nullptr) && got == size);
    CloseHandle(f);
    return ok;
}

bool WriteBytes(const std::string& path, const Bytes& bytes) {
    HANDLE f = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    DWORD wrote = 0;
    bool ok = bytes.empty() || (WriteFile(f, bytes.data(), DWORD(bytes.size()), &wrote, nullptr) &&
                                wrote == bytes.size());
    CloseHandle(f);
    return ok;
}

bool Exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool ReadRaw(const char* name, DWORD* type, Bytes* data) {
    HKEY key = OpenSettings();
    if (!key) return false;
    Bytes buffer(4096);
    DWORD size = DWORD(buffer.size());
    LONG rc = RegQueryValueExA(key, name, nullptr, type, buffer.data(), &size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS) return false;
    data->assign(buffer.begin(), buffer.begin() + size);
    return true;
}

void WriteRaw(const char* name, DWORD type, const Bytes& data) {
    HKEY key = OpenSettings();
    if (!key) return;
    RegSetValueExA(key, name, 0, type, data.data(), DWORD(data.size()));
    RegCloseKey(key);
}

void DeleteRaw(const char* name) {
    HKEY key = OpenSettings();
    if (!key) return;
    RegDeleteValueA(key, name);
    RegCloseKey(key);
}

ScopedEnv::ScopedEnv(const char* n, const std::string& value) : name(n) {
    char buffer[4096];
    DWORD got = GetEnvironmentVariableA(n, buffer, sizeof buffer);
    had = got > 0 && got < sizeof buffer;
    if (had) old.assign(buffer, got);
    SetEnvironmentVariableA(n, value.c_str());
}

ScopedEnv::~ScopedEnv() {
    SetEnvironmentVariableA(name.c_str(), had ? old.c_str() : nullptr);
}

ProgramRun RunProgram(const std::string& program, const std::string& arguments, DWORD ms) {
    ProgramRun run;
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return run;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA si;
    ZeroMemory(&si, sizeof si);
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = writeEnd;
    si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION pi;
    std::string line = "\"" + BuildFolder() + "\\" + program + "\" " + arguments;
    std::vector<char> text(line.begin(), line.end());
    text.push_back(0);
    BOOL started =
        CreateProcessA(nullptr, text.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
    CloseHandle(writeEnd);
    if (!started) {
        CloseHandle(readEnd);
        return run;
    }
    DWORD end = GetTickCount() + ms;
    for (;;) {
        // Keep the pipe drained and this thread's windows answering while the child runs.
        DWORD available = 0;
        while (PeekNamedPipe(readEnd, nullptr, 0, nullptr, &available, nullptr) && available) {
            char chunk[512];
            DWORD got = 0;
            if (!ReadFile(readEnd, chunk, sizeof chunk, &got, nullptr) || !got) break;
            run.output.append(chunk, got);
        }
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&msg);
        if (WaitForSingleObject(pi.hProcess, 10) == WAIT_OBJECT_0) {
            char chunk[512];
            DWORD got = 0;
            while (PeekNamedPipe(readEnd, nullptr, 0, nullptr, &available, nullptr) && available &&
                   ReadFile(readEnd, chunk, sizeof chunk, &got, nullptr) && got)
                run.output.append(chunk, got);
            GetExitCodeProcess(pi.hProcess, &run.exitCode);
            break;
        }
        if (static_cast<LONG>(end - GetTickCount()) < 0) {
            TerminateProcess(pi.hProcess, 0xFFFFFFFF);
            WaitForSingleObject(pi.hProcess, 5000);
            break;
        }
    }
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    CloseHandle(readEnd);
    return run;
}

Installation::Installation(const char* tag) {
    char temp[MAX_PATH], unique[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    GetTempFileNameA(temp, tag, 0, unique);
    DeleteFileA(unique);
    root_ = unique;
    folder_ = root_ + "\\Zelvantic";
    handheld_ = root_ + "\\handheld";
    CreateDirectoryA(root_.c_str(), nullptr);
    CreateDirectoryA(folder_.c_str(), nullptr);
    CreateDirectoryA(handheld_.c_str(), nullptr);
    handheldEnv_ = new ScopedEnv("ZLV_HANDHELD_DIR", handheld_);
    ready_ = true;
    for (const char* name : {"agent.exe", "conduit.dll", "condmgr.dll"})
        ready_ &= CopyFileA((BuildFolder() + "\\" + name).c_str(), (folder_ + "\\" + name).c_str(),
                            FALSE) != 0;
    RegisterConduitHere();
    WriteRaw("target", REG_SZ, Bytes(folder_.begin(), folder_.end())); // as the agent stores it
    ready_ = ready_ && HotSync("--install-db").exitCode == 0;
}

Installation::~Installation() {
    DeleteRaw("target");
    delete handheldEnv_;
    RemoveTree(root_);
}

void Installation::RegisterConduitHere() {
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, PALMSIM_CONDUITS_KEY "\\ZLVA", 0, nullptr, 0,
                        KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return;
    RegSetValueExA(key, "Folder", 0, REG_SZ, reinterpret_cast<const BYTE*>(folder_.c_str()),
                   DWORD(folder_.size() + 1));
    RegSetValueExA(key, "File", 0, REG_SZ, reinterpret_cast<const BYTE*>("conduit.dll"), 12);
    RegCloseKey(key);
}

ProgramRun Installation::HotSync(const std::string& arguments) {
    return RunProgram("hotsync.exe", arguments);
}

bool Installation::HandheldRecords(std::vector<Bytes>* records) {
    records->clear();
    Bytes bytes;
    if (!ReadBytes(handheld_ + "\\ZLV Currencies.pdb", &bytes)) return false;
    pdb::Database db;
    std::string error;
    if (!pdb::Parse(bytes.data(), bytes.size(), &db, &error)) return false;
    for (const pdb::Record& r : db.records)
        records->push_back(Bytes(r.data.begin(), r.data.end()));
    return true;
}

Bytes RatesFileFor(const Bytes& body) {
    Bytes file = {'k', 'e', 'l', 'p', 'o', 0, 0, 0, 0x80, 0x5E, 0x4C, 0x65};
    file.insert(file.end(), body.begin(), body.end());
    return file;
}

bool AgentRun::Start(const std::string& exe, const std::string& arguments) {
    End();
    STARTUPINFOA si;
    ZeroMemory(&si, sizeof si);
    si.cb = sizeof si;
    std::string line = "\"" + exe + "\"" + (arguments.empty() ? "" : " " + arguments);
    std::vector<char> text(line.begin(), line.end());
    text.push_back(0);
    return CreateProcessA(nullptr, text.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                          &info_) != 0;
}

HWND AgentRun::WaitWindow(DWORD ms) {
    DWORD end = GetTickCount() + ms;
    do {
        HWND window = nullptr;
        while ((window = FindWindowExA(nullptr, window, "kelpoWindowClassv10->ovin ka spy!!!",
                                       nullptr)) != nullptr) {
            DWORD pid = 0;
            GetWindowThreadProcessId(window, &pid);
            if (pid == info_.dwProcessId) return window;
        }
        if (WaitForSingleObject(info_.hProcess, 50) == WAIT_OBJECT_0) return nullptr;
    } while (static_cast<LONG>(end - GetTickCount()) > 0);
    return nullptr;
}

bool AgentRun::WaitExit(DWORD ms, DWORD* code) {
    if (!info_.hProcess || WaitForSingleObject(info_.hProcess, ms) != WAIT_OBJECT_0) return false;
    GetExitCodeProcess(info_.hProcess, code);
    return true;
}

bool AgentRun::End() {
    if (!info_.hProcess) return false;
    bool clean = true;
    if (WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT) {
        HWND window = WaitWindow(0);
        if (window) PostMessageA(window, WM_COMMAND, 40002, 0);
        clean = window && WaitForSingleObject(info_.hProcess, 5000) == WAIT_OBJECT_0;
        if (!clean) {
            TerminateProcess(info_.hProcess, 99);
            WaitForSingleObject(info_.hProcess, 5000);
        }
    }
    CloseHandle(info_.hProcess);
    CloseHandle(info_.hThread);
    info_ = PROCESS_INFORMATION{};
    return clean;
}

RatesServer::RatesServer(const std::string& reply) : reply_(reply) {
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
    thread_ = CreateThread(nullptr, 0, Serve, this, 0, nullptr);
}

RatesServer::~RatesServer() {
    if (thread_) {
        SetEvent(stop_);
        WaitForSingleObject(thread_, INFINITE);
        CloseHandle(thread_);
    }
    if (stop_) CloseHandle(stop_);
    if (listener_ != INVALID_SOCKET) closesocket(listener_);
    WSACleanup();
}

DWORD WINAPI RatesServer::Serve(void* self) {
    RatesServer* server = static_cast<RatesServer*>(self);
    while (WaitForSingleObject(server->stop_, 0) == WAIT_TIMEOUT) {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(server->listener_, &readable);
        timeval wait = {0, 20000};
        if (select(0, &readable, nullptr, nullptr, &wait) <= 0) continue;
        SOCKET client = accept(server->listener_, nullptr, nullptr);
        if (client == INVALID_SOCKET) continue;
        // The whole request first: closing over unread bytes would reset the connection.
        std::string request;
        char buffer[256];
        while (request.find("\r\n\r\n") == std::string::npos) {
            fd_set r;
            FD_ZERO(&r);
            FD_SET(client, &r);
            timeval limit = {5, 0};
            if (select(0, &r, nullptr, nullptr, &limit) <= 0) break;
            int n = recv(client, buffer, sizeof buffer, 0);
            if (n <= 0) break;
            request.append(buffer, n);
        }
        if (request.find("\r\n\r\n") != std::string::npos) {
            InterlockedIncrement(&server->requests_);
            send(client, server->reply_.data(), int(server->reply_.size()), 0);
        }
        shutdown(client, SD_SEND);
        closesocket(client);
    }
    return 0;
}

std::string RatesReply(const std::string& page) {
    char head[160];
    snprintf(head, sizeof head,
             "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\nContent-Length: %u\r\n\r\n",
             unsigned(page.size()));
    return head + page;
}
