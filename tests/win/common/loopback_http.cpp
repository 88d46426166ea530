#include "tests/win/common/loopback_http.h"

#include <stdio.h>

namespace {

// A listener bound to 127.0.0.1:80, or INVALID_SOCKET; WSAStartup is the caller's.
SOCKET ListenOnLoopback(int backlog, sockaddr_in* address) {
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    if (s == INVALID_SOCKET) return s;
    BOOL reuse = TRUE;
    setsockopt(s, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<char*>(&reuse), sizeof reuse);
    ZeroMemory(address, sizeof *address);
    address->sin_family = AF_INET;
    address->sin_port = htons(80);
    address->sin_addr.s_addr = inet_addr("127.0.0.1");
    if (bind(s, reinterpret_cast<sockaddr*>(address), sizeof *address) != 0 ||
        listen(s, backlog) != 0) {
        closesocket(s);
        return INVALID_SOCKET;
    }
    return s;
}

} // namespace

LoopbackHttpServer::LoopbackHttpServer(const std::string& reply) : reply_(reply) {
    InitializeCriticalSection(&lock_);
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    sockaddr_in address;
    listener_ = ListenOnLoopback(8, &address);
    if (listener_ == INVALID_SOCKET) return;
    stop_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    thread_ = CreateThread(nullptr, 0, Run, this, 0, nullptr);
}

LoopbackHttpServer::~LoopbackHttpServer() {
    if (thread_) {
        SetEvent(stop_);
        WaitForSingleObject(thread_, INFINITE);
        CloseHandle(thread_);
    }
    if (stop_) CloseHandle(stop_);
    if (listener_ != INVALID_SOCKET) closesocket(listener_);
    WSACleanup();
    DeleteCriticalSection(&lock_);
}

void LoopbackHttpServer::SetReply(const std::string& reply) {
    EnterCriticalSection(&lock_);
    reply_ = reply;
    LeaveCriticalSection(&lock_);
}

DWORD WINAPI LoopbackHttpServer::Run(void* self) {
    LoopbackHttpServer* server = static_cast<LoopbackHttpServer*>(self);
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
        EnterCriticalSection(&server->lock_);
        std::string reply = server->reply_;
        LeaveCriticalSection(&server->lock_);
        if (reply.empty())
            silent.push_back(client);
        else
            server->Serve(client, reply);
    }
    for (SOCKET s : silent)
        closesocket(s);
    return 0;
}

void LoopbackHttpServer::Serve(SOCKET client, const std::string& reply) {
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
        send(client, reply.data(), static_cast<int>(reply.size()), 0);
    }
    shutdown(client, SD_SEND);
    closesocket(client);
}

BlackHoleServer::BlackHoleServer() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    sockaddr_in address;
    listener_ = ListenOnLoopback(0, &address);
    if (listener_ == INVALID_SOCKET) return;
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

std::string RatesReply(const std::string& page) {
    char head[160];
    snprintf(head, sizeof head,
             "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\nContent-Length: %u\r\n\r\n",
             unsigned(page.size()));
    return head + page;
}
