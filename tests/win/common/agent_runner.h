// agent.exe as a child process: started, found by its window, asked to exit, never left behind.
#pragma once
#include <windows.h>

#include <string>

#define ZLV_AGENT_CLASS "kelpoWindowClassv10->ovin ka spy!!!"
#define ZLV_AGENT_MUTEX "(:::)Zelvantic Desktop Agent by kelpo"

const UINT kExitCommand = 40002;

// Full path of the agent built beside the test program (..\agent.exe).
std::string BuiltAgentPath();
std::string FolderOf(const std::string& path); // no final separator

// One agent process. The destructor asks it to exit, then kills it.
class AgentProcess {
  public:
    // exitWaitMs: how long End() gives the Exit command before it kills.
    explicit AgentProcess(DWORD exitWaitMs = 3000) : exitWaitMs_(exitWaitMs) {}
    AgentProcess(const AgentProcess&) = delete;
    AgentProcess& operator=(const AgentProcess&) = delete;
    ~AgentProcess() { End(); }

    // Started from workingFolder when one is given, else from this process's working folder, not
    // the program's own: a user's agent starts from wherever the log-on or the Start menu leaves
    // it.
    bool Start(const std::string& exe, const std::string& arguments = "",
               const std::string& workingFolder = "");
    // True when it ended within ms; *code gets the exit code.
    bool WaitExit(DWORD ms, DWORD* code);
    // The agent's main window owned by this process, polled for up to ms.
    HWND WaitWindow(DWORD ms);
    bool Exited();
    // Exit command, then TerminateProcess as a last resort. True when the Exit command did it.
    bool End();
    DWORD Id() const { return info_.dwProcessId; }
    HANDLE Process() const { return info_.hProcess; }

  private:
    PROCESS_INFORMATION info_{};
    DWORD exitWaitMs_;
};

// Top-level windows of the agent's class, hidden ones included.
int CountAgentWindows();
HWND FindAgentWindowOf(DWORD processId);
// Ends every agent found by its window: cases must not see each other's agents.
void EndStrayAgents();
