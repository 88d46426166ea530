// Runs agent.exe as a child process and reads the settings it shares with the conduit.
#pragma once
#include <windows.h>

#include <string>

#define ZLV_AGENT_CLASS "kelpoWindowClassv10->ovin ka spy!!!"
#define ZLV_AGENT_MUTEX "(:::)Zelvantic Desktop Agent by kelpo"
#define ZLV_KEY "Software\\Morvane\\Zelvantic"

enum { kExitCommand = 40002 };

// Full path of the agent built beside the test program (..\agent.exe).
std::string BuiltAgentPath();
std::string FolderOf(const std::string& path); // no final separator
bool FileExists(const std::string& path);

// One agent process. Never left behind: the destructor asks it to exit, then kills it.
class AgentProcess {
  public:
    AgentProcess() = default;
    AgentProcess(const AgentProcess&) = delete;
    AgentProcess& operator=(const AgentProcess&) = delete;
    ~AgentProcess() { End(); }

    bool Start(const std::string& exe, const std::string& arguments = "");
    // True when it ended within ms; *code gets the exit code.
    bool WaitExit(DWORD ms, DWORD* code);
    // The agent's main window owned by this process, polled for up to ms.
    HWND WaitWindow(DWORD ms);
    bool Exited();
    // Exit command, then TerminateProcess as a last resort. True when the Exit command did it.
    bool End();
    DWORD Id() const { return info_.dwProcessId; }

  private:
    PROCESS_INFORMATION info_{};
};

// Top-level windows of the agent's class, hidden ones included.
int CountAgentWindows();
HWND FindAgentWindowOf(DWORD processId);
// Ends every agent found by its window: cases must not see each other's agents.
void EndStrayAgents();

// The settings key, raw: tests check the exact stored data (texts as characters, terminator and
// all, as far as it was stored).
bool SetFlagText(const char* name, const char* text); // 4 bytes, like the agent writes
bool SetDword(const char* name, DWORD value);
bool ReadDword(const char* name, DWORD* value);
bool ReadRaw(const char* name, std::string* data, DWORD* type);
bool SetRawText(const char* name, const std::string& data);
void DeleteValue(const char* name);
