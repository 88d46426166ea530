// A real hidden main window driven in-process: fake clock, a recorder in place of the shell's
// notify function, a scratch agent folder, and a small HTTP server on 127.0.0.1:80.
#pragma once
#include <winsock2.h>
#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "agent/shell/agent_state.h"
#include "agent/shell/settings.h"

struct TrayCall {
    DWORD message;
    NOTIFYICONDATAA data; // the first cbSize bytes as received, the rest zero
};

extern std::vector<TrayCall> g_trayCalls;
extern time_t g_fakeNow;

// Settings key, raw.
void SetFlag(const char* name, const char* text); // 4 bytes, as the agent writes them
void SetDword(const char* name, DWORD value);
bool ReadDword(const char* name, DWORD* value);
std::string ReadRaw(const char* name); // empty when absent
void DeleteSetting(const char* name);

std::string LoadText(UINT id); // from this program's string table (the agent's)
bool FileExists(const std::string& path);
void WriteFileText(const std::string& path, const std::string& text);

// Accepts on 127.0.0.1:80 while it exists; each connection reads the request and answers with
// the given reply (empty: keeps the connection silent until the server goes).
class HttpServer {
  public:
    explicit HttpServer(const std::string& reply);
    ~HttpServer();
    bool Listening() const { return listener_ != INVALID_SOCKET; }
    LONG Connections() const { return connections_; }
    LONG Requests() const { return requests_; }

  private:
    static DWORD WINAPI Run(void* self);
    void Serve(SOCKET client);
    std::string reply_;
    SOCKET listener_ = INVALID_SOCKET;
    HANDLE thread_ = nullptr;
    HANDLE stop_ = nullptr;
    volatile LONG connections_ = 0;
    volatile LONG requests_ = 0;
};

// Listens on 127.0.0.1:80 but never accepts, with its queue filled: a new connect gets no answer
// at all, as with a server that has gone off the network.
class BlackHoleServer {
  public:
    BlackHoleServer();
    ~BlackHoleServer();
    bool Swallowing() const { return swallowing_; }

  private:
    SOCKET listener_ = INVALID_SOCKET;
    std::vector<SOCKET> fillers_;
    bool swallowing_ = false;
};

class ShellTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // One WM_TIMER 100 through the window procedure.
    void Tick();
    // Ticks with short real pauses until done() or ms have passed; true when done() held.
    template <class F> bool TickUntil(F done, DWORD ms = 8000) {
        DWORD start = GetTickCount();
        while (GetTickCount() - start < ms) {
            Tick();
            if (done()) return true;
            Sleep(20);
        }
        return false;
    }
    void Advance(time_t seconds) { g_fakeNow += seconds; }
    LRESULT Command(UINT id);
    // Notices the recorder saw (NIF_INFO set) since the last call.
    std::vector<TrayCall> TakeNotices();
    std::string RatesPath() const { return folder_ + "\\mrvrates.zlv"; }
    void SetAgentFolder(const std::string& folder);
    void UseShortRecord(); // a shell without balloon tips

    HWND window_ = nullptr;
    std::string folder_;
    size_t noticesSeen_ = 0;
};

// Frame i is this fake handle, so the recorder tells frames apart; the shell never sees them.
inline HICON FakeFrame(int i) {
    return reinterpret_cast<HICON>(static_cast<UINT_PTR>(0x5000 + i));
}
