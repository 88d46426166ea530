#include "tests/win/common/agent_runner.h"

#include <string.h>

#include <vector>

#include "tests/win/common/file_helpers.h"

std::string FolderOf(const std::string& path) {
    size_t cut = path.find_last_of("\\/");
    return cut == std::string::npos ? std::string() : path.substr(0, cut);
}

std::string BuiltAgentPath() {
    return BuildFolder() + "\\agent.exe";
}

bool AgentProcess::Start(const std::string& exe, const std::string& arguments,
                         const std::string& workingFolder) {
    End();
    std::string line = "\"" + exe + "\"";
    if (!arguments.empty()) line += " " + arguments;
    std::wstring wide = Wide(line);
    std::vector<wchar_t> buffer(wide.begin(), wide.end());
    buffer.push_back(L'\0');
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    std::wstring folder = Wide(workingFolder);
    return CreateProcessW(Wide(exe).c_str(), buffer.data(), nullptr, nullptr, FALSE, 0, nullptr,
                          workingFolder.empty() ? nullptr : folder.c_str(), &startup, &info_) != 0;
}

bool AgentProcess::WaitExit(DWORD ms, DWORD* code) {
    if (!info_.hProcess) return false;
    if (WaitForSingleObject(info_.hProcess, ms) != WAIT_OBJECT_0) return false;
    DWORD c = 0;
    GetExitCodeProcess(info_.hProcess, &c);
    if (code) *code = c;
    return true;
}

bool AgentProcess::Exited() {
    return !info_.hProcess || WaitForSingleObject(info_.hProcess, 0) == WAIT_OBJECT_0;
}

HWND AgentProcess::WaitWindow(DWORD ms) {
    DWORD start = GetTickCount();
    for (;;) {
        HWND w = FindAgentWindowOf(info_.dwProcessId);
        if (w || Exited()) return w;
        if (GetTickCount() - start >= ms) return nullptr;
        Sleep(20);
    }
}

bool AgentProcess::End() {
    if (!info_.hProcess) return true;
    bool clean = true;
    if (!Exited()) {
        HWND w = FindAgentWindowOf(info_.dwProcessId);
        if (w) PostMessageA(w, WM_COMMAND, kExitCommand, 0);
        if (!w || WaitForSingleObject(info_.hProcess, exitWaitMs_) != WAIT_OBJECT_0) {
            clean = false;
            TerminateProcess(info_.hProcess, 99);
            WaitForSingleObject(info_.hProcess, exitWaitMs_);
        }
    }
    CloseHandle(info_.hThread);
    CloseHandle(info_.hProcess);
    info_ = PROCESS_INFORMATION{};
    return clean;
}

namespace {

struct WindowSearch {
    DWORD processId; // 0: any process
    int count;
    HWND first;
};

BOOL CALLBACK VisitWindow(HWND w, LPARAM param) {
    WindowSearch* s = reinterpret_cast<WindowSearch*>(param);
    char name[64] = {};
    if (!GetClassNameA(w, name, sizeof name - 1) || strcmp(name, ZLV_AGENT_CLASS) != 0) return TRUE;
    DWORD owner = 0;
    GetWindowThreadProcessId(w, &owner);
    if (s->processId && owner != s->processId) return TRUE;
    if (!s->first) s->first = w;
    s->count++;
    return TRUE;
}

WindowSearch Search(DWORD processId) {
    WindowSearch s{processId, 0, nullptr};
    EnumWindows(VisitWindow, reinterpret_cast<LPARAM>(&s));
    return s;
}

} // namespace

int CountAgentWindows() {
    return Search(0).count;
}

HWND FindAgentWindowOf(DWORD processId) {
    return Search(processId).first;
}

void EndStrayAgents() {
    for (int round = 0; round < 5; ++round) {
        HWND w = FindWindowA(ZLV_AGENT_CLASS, nullptr);
        if (!w) return;
        DWORD id = 0;
        GetWindowThreadProcessId(w, &id);
        HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, id);
        PostMessageA(w, WM_COMMAND, kExitCommand, 0);
        if (process) {
            if (WaitForSingleObject(process, 3000) != WAIT_OBJECT_0) {
                TerminateProcess(process, 99);
                WaitForSingleObject(process, 3000);
            }
            CloseHandle(process);
        } else {
            Sleep(200);
        }
    }
}
