// What the hardening cases share: an installation of the agent and the conduit in a throw-away
// folder, a handheld made of database files, raw settings, processes, and a small rates server.
#pragma once
#include <winsock2.h>
#include <windows.h>

#include <string>
#include <vector>

typedef std::vector<unsigned char> Bytes;

#define ZLV_KEY "Software\\Morvane\\Zelvantic"

std::string BuildFolder(); // build/win, one above this program
bool ReadBytes(const std::string& path, Bytes* bytes);
bool WriteBytes(const std::string& path, const Bytes& bytes);
bool Exists(const std::string& path);

// The settings value as stored: type and bytes; false when absent.
bool ReadRaw(const char* name, DWORD* type, Bytes* data);
void WriteRaw(const char* name, DWORD type, const Bytes& data);
void DeleteRaw(const char* name);

// Sets an environment variable for this process and its children until it goes out of scope.
struct ScopedEnv {
    ScopedEnv(const char* name, const std::string& value);
    ~ScopedEnv();
    std::string name, old;
    bool had;
};

struct ProgramRun {
    DWORD exitCode = 0xFFFFFFFF; // also when it did not end in time
    std::string output;          // standard output
};
// Runs a program of build/win and waits up to ms, pumping this thread's messages meanwhile.
ProgramRun RunProgram(const std::string& program, const std::string& arguments, DWORD ms = 30000);

// agent.exe, conduit.dll and the Conduit Manager stand-in copied into a fresh folder; the
// handheld beside it with an empty rates database; the stand-ins' switches pointed at both.
class Installation {
  public:
    explicit Installation(const char* tag);
    ~Installation();
    bool Ready() const { return ready_; }
    std::string Folder() const { return folder_; }
    std::string RatesPath() const { return folder_ + "\\mrvrates.zlv"; }
    std::string AgentPath() const { return folder_ + "\\agent.exe"; }
    // hotsync.exe with the given arguments (sync type 3 unless given).
    ProgramRun HotSync(const std::string& arguments = "");
    // The records of the handheld rates database; false when it is missing or damaged.
    bool HandheldRecords(std::vector<Bytes>* records);
    // The Conduit Manager entry points at this folder, as the agent's start would leave it.
    void RegisterConduitHere();

  private:
    std::string root_, folder_, handheld_;
    ScopedEnv* handheldEnv_ = nullptr;
    bool ready_ = false;
};

// A rates file as the agent writes it: header, then the rates body.
Bytes RatesFileFor(const Bytes& body);
extern const Bytes kRatesBody;

// One agent process; ended (Exit command, then killed) when it goes out of scope.
class AgentRun {
  public:
    AgentRun() = default;
    AgentRun(const AgentRun&) = delete;
    AgentRun& operator=(const AgentRun&) = delete;
    ~AgentRun() { End(); }
    bool Start(const std::string& exe, const std::string& arguments = "");
    HWND WaitWindow(DWORD ms); // its main window
    bool WaitExit(DWORD ms, DWORD* code);
    bool End(); // true when the Exit command ended it
    HANDLE Process() const { return info_.hProcess; }

  private:
    PROCESS_INFORMATION info_{};
};

// Answers every connection on 127.0.0.1:80 with the reply, after reading the request.
class RatesServer {
  public:
    explicit RatesServer(const std::string& reply);
    ~RatesServer();
    bool Listening() const { return listener_ != INVALID_SOCKET; }
    LONG Requests() const { return requests_; }

  private:
    static DWORD WINAPI Serve(void* self);
    std::string reply_;
    SOCKET listener_ = INVALID_SOCKET;
    HANDLE thread_ = nullptr;
    HANDLE stop_ = nullptr;
    volatile LONG requests_ = 0;
};

// The reply for a rates page, with the headers a web server sends.
std::string RatesReply(const std::string& page);
