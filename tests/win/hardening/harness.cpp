#include "tests/win/hardening/harness.h"

#include <stdio.h>

#include <algorithm>

#include "palmdb/pdb_format.h"
#include "palmsim/palmsim.h"

const Bytes kRatesBody = [] {
    static const char kLines[] = "0002\0USD US Dollar\0"
                                 "1.0000\0"
                                 "EUR Euro\0"
                                 "0.9215\0";
    return Bytes(kLines, kLines + sizeof kLines - 1);
}();

ProgramRun RunProgram(const std::string& path, const std::string& arguments, DWORD ms) {
    ProgramRun run;
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return run;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW si;
    ZeroMemory(&si, sizeof si);
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = writeEnd;
    si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION pi;
    std::wstring line = Wide("\"" + path + "\" " + arguments);
    std::vector<wchar_t> text(line.begin(), line.end());
    text.push_back(0);
    BOOL started =
        CreateProcessW(nullptr, text.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
    CloseHandle(writeEnd);
    if (!started) {
        CloseHandle(readEnd);
        return run;
    }
    auto drain = [&] {
        char chunk[512];
        DWORD available = 0, got = 0;
        while (PeekNamedPipe(readEnd, nullptr, 0, nullptr, &available, nullptr) && available &&
               ReadFile(readEnd, chunk, sizeof chunk, &got, nullptr) && got)
            run.output.append(chunk, got);
    };
    DWORD end = GetTickCount() + ms;
    for (;;) {
        // Keep the pipe drained and this thread's windows answering while the child runs.
        drain();
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&msg);
        if (WaitForSingleObject(pi.hProcess, 10) == WAIT_OBJECT_0) {
            drain();
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
    for (const char* name : {"agent.exe", "conduit.dll"}) // what the installer installs
        ready_ &= CopyFileA((BuildFolder() + "\\" + name).c_str(), (folder_ + "\\" + name).c_str(),
                            FALSE) != 0;
    RegisterConduitHere();
    rates_ = UserRatesFolder();
    RemoveTree(rates_);
    ready_ = ready_ && !rates_.empty() && CreateDirectoryA(rates_.c_str(), nullptr);
    WriteSetting("target", REG_SZ, Bytes(rates_.begin(), rates_.end())); // as the agent stores it
    ready_ = ready_ && HotSync("--install-db").exitCode == 0;
}

Installation::~Installation() {
    DeleteSetting("target");
    delete handheldEnv_;
    RemoveTree(root_);
    if (!rates_.empty()) RemoveTree(rates_);
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
    return RunProgram(PalmFolder() + "\\hotsync.exe", arguments);
}

bool HandheldRecords(const std::string& handheld, std::vector<Bytes>* records) {
    records->clear();
    Bytes bytes;
    if (!ReadBytes(handheld + "\\ZLV Currencies.pdb", &bytes)) return false;
    pdb::Database db;
    std::string error;
    if (!pdb::Parse(bytes.data(), bytes.size(), &db, &error)) return false;
    for (const pdb::Record& r : db.records)
        records->push_back(Bytes(r.data.begin(), r.data.end()));
    return true;
}

Bytes RatesBodyOf(const std::string& page) {
    char count[8];
    snprintf(count, sizeof count, "%04d",
             static_cast<int>(std::count(page.begin(), page.end(), '\n')));
    Bytes body(count, count + 4);
    body.push_back(0);
    // A line feed ends the line as a zero byte; the first tab of a line is a space, later ones
    // zero bytes.
    int tabs = 0;
    for (char c : page) {
        if (c == '\n') {
            body.push_back(0);
            tabs = 0;
        } else if (c == '\t') {
            body.push_back(tabs++ == 0 ? ' ' : 0);
        } else {
            body.push_back(static_cast<BYTE>(c));
        }
    }
    return body;
}
