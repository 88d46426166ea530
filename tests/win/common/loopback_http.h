// Small HTTP servers on 127.0.0.1:80 for the agent's downloads (the test runner gives each run a
// network namespace of its own, so the port is free).
#pragma once
#include <winsock2.h>
#include <windows.h>

#include <string>
#include <vector>

// Accepts while it exists; each connection reads the request and answers with the reply
// (empty: keeps the connection silent until the server goes).
class LoopbackHttpServer {
  public:
    explicit LoopbackHttpServer(const std::string& reply);
    ~LoopbackHttpServer();
    LoopbackHttpServer(const LoopbackHttpServer&) = delete;
    LoopbackHttpServer& operator=(const LoopbackHttpServer&) = delete;
    bool Listening() const { return listener_ != INVALID_SOCKET; }
    LONG Connections() const { return connections_; }
    LONG Requests() const { return requests_; }
    void SetReply(const std::string& reply); // for the connections still to come

  private:
    static DWORD WINAPI Run(void* self);
    void Serve(SOCKET client, const std::string& reply);
    std::string reply_;
    CRITICAL_SECTION lock_;
    SOCKET listener_ = INVALID_SOCKET;
    HANDLE thread_ = nullptr;
    HANDLE stop_ = nullptr;
    volatile LONG connections_ = 0;
    volatile LONG requests_ = 0;
};

// Listens but never accepts, with its queue filled: a new connect gets no answer at all, as with
// a server that has gone off the network.
class BlackHoleServer {
  public:
    BlackHoleServer();
    ~BlackHoleServer();
    BlackHoleServer(const BlackHoleServer&) = delete;
    BlackHoleServer& operator=(const BlackHoleServer&) = delete;
    bool Swallowing() const { return swallowing_; }

  private:
    SOCKET listener_ = INVALID_SOCKET;
    std::vector<SOCKET> fillers_;
    bool swallowing_ = false;
};

// The reply for a rates page, with the headers a web server sends.
std::string RatesReply(const std::string& page);
