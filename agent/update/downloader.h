// One attempt at fetching the rates page: a worker thread connects to the update server (through
// the user's proxy, over TLS for an https address), the main thread sends the request, the worker
// reads the reply until the reply reader has judged it.
#pragma once
#include <winsock2.h>
#include <windows.h>

#include <atomic>

#include "agent/update/byte_string.h"
#include "agent/update/socket_connection.h"
#include "agent/update/proxy_rule.h"
#include "agent/update/tls_channel.h"
#include "agent/update/update_address.h"
#include "agent/update/update_request.h"

class Downloader {
  public:
    Downloader();
    Downloader(const Downloader&) = delete;
    Downloader& operator=(const Downloader&) = delete;
    virtual ~Downloader();

    // Creates the worker on the first call; unless noWait, waits up to 10 s for the connection.
    // The address is the update server's, as the build gives it.
    bool Start(const char* address, bool noWait);
    // Up to ms for the connection; false at once when the worker has ended without one.
    bool WaitForConnection(DWORD ms);
    bool Send(const char* text);
    bool Send(const ByteString& text) { return Send(text.CStr()); }
    // Before Start: the worker posts the message to the window once the connection stands, and
    // again as it ends.
    void NotifyWhenFinished(HWND window, UINT message);
    void Stop();
    bool IsConnected();
    bool IsBusy();
    bool NotStopped();

    // True once the worker has ended; everything it did to the response is seen from then on.
    bool IsFinished() const { return finished.load(std::memory_order_acquire) != 0; }
    // The page body once the reply gave one, empty otherwise; the worker's until IsFinished.
    ByteString& Response() { return response; }
    const ByteString& Response() const { return response; }
    HANDLE Thread() const { return thread; } // null until Start created the worker
    SOCKET Socket() const { return socket; }
    const char* Request() const { return request.load(std::memory_order_acquire); }
    // For the request, once the connection stands: what its line asks for, and its Host field.
    const char* RequestTarget() const { return requestTarget.CStr() ? requestTarget.CStr() : ""; }
    const char* HostField() const { return hostField.CStr() ? hostField.CStr() : ""; }

    // Socket layer. The connection stands once the socket is valid: to the server, or to the
    // proxy (for https, a tunnel through it), and for https with the server's certificate
    // accepted.
    void OpenConnection(const char* addressText);
    int SendAll(const char* buffer, int length, int flags, int timeoutSeconds);
    // One read of what has come: the bytes read, or one of the kReceive results.
    int ReceiveSome(char* buffer, int size, int timeoutSeconds);
    bool WaitWritable(int timeoutSeconds);
    bool WaitReadable(int timeoutSeconds);

    enum {
        kReadSize = 4096,
        kConnectWaitMs = kUpdateConnectSeconds * 1000,
        kSendTimeout = kUpdateSendSeconds,
        kReceiveTimeout = kUpdateStallSeconds,
    };
    enum { kFirstReadRetries = 3000, kStopCheckMs = 10, kSendCheckMs = 1 };
    enum { kCheckWaitMs = 10 }; // what each of NotStopped, IsConnected and IsBusy waits

  private:
    static DWORD WINAPI WorkerThunk(void* self);
    DWORD WorkerMain();
    bool ReadReply();
    void PlanRoute(const char* addressText);
    bool OpenTunnel(const UpdateAddress& target);
    void CloseSocket();

    SOCKET socket;
    HANDLE thread;
    HANDLE stopEvent;
    HANDLE connectedEvent;
    HANDLE busyEvent;
    char* address;
    // Where the attempt goes, decided before the worker runs: Start's short wait is then the
    // connection's alone.
    bool planned;
    ProxyRoute route;
    UpdateAddress target;
    ProxyEndpoint proxy;
    TlsChannel* tls; // for an https address, once the socket is connected
    ByteString requestTarget;
    ByteString hostField;
    std::atomic<char*> request; // set by Send, looked at by the worker
    std::atomic<BYTE> finished; // set last by the worker, with release
    ByteString response;
    HWND doneWindow;
    UINT doneMessage;
};
