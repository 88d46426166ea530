// One attempt at fetching the rates page: a worker thread connects to port 80, the main thread
// sends the request, the worker collects the response until the server closes.
#pragma once
#include <winsock2.h>
#include <windows.h>

#include "agent/update/byte_string.h"

class Downloader {
  public:
    Downloader();
    Downloader(const Downloader&) = delete;
    Downloader& operator=(const Downloader&) = delete;
    virtual ~Downloader();

    // Creates the worker on the first call; unless noWait, waits up to 10 s for the connection.
    bool Start(const char* host, bool noWait);
    bool Send(const char* text);
    bool Send(const ByteString& text) { return Send(text.CStr()); }
    void Stop();
    bool IsConnected();
    bool IsBusy();
    bool NotStopped();

    // Socket layer.
    void OpenConnection(const char* hostText);
    int SendAll(const char* buffer, int length, int flags, int timeoutSeconds);
    int ReceiveAll(char* buffer, int size, int flags, int timeoutSeconds);
    bool WaitWritable(int timeoutSeconds);
    bool WaitReadable(int timeoutSeconds);

    DWORD WorkerMain();

    SOCKET socket;
    HANDLE thread;
    HANDLE stopEvent;
    HANDLE connectedEvent;
    HANDLE busyEvent;
    char* host;
    char* volatile request;
    volatile BYTE finished; // written last by the worker; response is complete once it reads 1
    ByteString response;

    enum { kChunkSize = 32, kConnectWaitMs = 10000, kSendTimeout = 1, kReceiveTimeout = 2 };
    enum { kFirstReadRetries = 3000, kStopCheckMs = 10 };

  private:
    // Bytes received but not yet asked for: one recv fills many chunks, since each socket call
    // is costly (a server round trip under Wine) and the response is read 32 bytes at a time.
    enum { kReadAheadSize = 4096 };
    char readAhead[kReadAheadSize];
    int readAheadStart = 0;
    int readAheadEnd = 0;

    bool WaitReady(bool write, int timeoutSeconds);
    bool Connect(const sockaddr_in& address);
    void ReadResponse(const char* firstChunk);
    bool Signalled(HANDLE event, DWORD waitMs);
};
