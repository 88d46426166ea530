// One attempt at fetching the rates page: a worker thread connects to port 80, the main thread
// sends the request, the worker reads the reply until the reply reader has judged it.
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
    // Before Start: the worker posts the message to the window as it ends.
    void NotifyWhenFinished(HWND window, UINT message);
    void Stop();
    bool IsConnected();
    bool IsBusy();
    bool NotStopped();

    // Socket layer.
    void OpenConnection(const char* hostText);
    int SendAll(const char* buffer, int length, int flags, int timeoutSeconds);
    // One read of what has come: the bytes read, or one of the kReceive results.
    int ReceiveSome(char* buffer, int size, int timeoutSeconds);
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
    ByteString response;    // the page body once the reply gave one; empty otherwise
    HWND doneWindow;
    UINT doneMessage;

    enum { kReadSize = 4096, kConnectWaitMs = 10000, kSendTimeout = 1, kReceiveTimeout = 2 };
    enum { kFirstReadRetries = 3000, kStopCheckMs = 10, kSendCheckMs = 1 };
    enum { kReceiveClosed = 0, kReceiveFailed = -1, kReceiveTimedOut = -2 };

  private:
    enum { kWaitReady, kWaitTimedOut, kWaitFailed };
    int WaitReady(bool write, int timeoutSeconds);
    bool Connect(const sockaddr_in& address);
    bool ReadReply();
    bool Signalled(HANDLE event, DWORD waitMs);
};
