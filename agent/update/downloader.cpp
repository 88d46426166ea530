#include "agent/update/downloader.h"

#include <stdlib.h>
#include <string.h>

#include <new>

#include "agent/update/http_reply.h"
#include "agent/update/proxy_settings.h"
#include "agent/update/tunnel_reply.h"
#include "agent/update/update_address.h"

namespace {

// Heap copy with room for the terminator and two spare zero bytes.
char* CopyText(const char* text) {
    size_t n = strlen(text);
    char* copy = static_cast<char*>(calloc(n + 3, 1));
    if (copy) memcpy(copy, text, n);
    return copy;
}

bool Signalled(HANDLE event, DWORD waitMs) {
    return WaitForSingleObject(event, waitMs) == WAIT_OBJECT_0;
}

} // namespace

Downloader::Downloader()
    : socket(INVALID_SOCKET), thread(nullptr), address(nullptr), planned(false),
      route(kRouteBroken), tls(nullptr), request(nullptr), finished(0), doneWindow(nullptr),
      doneMessage(0) {
    stopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    connectedEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    busyEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    CountWinsockUser();
}

Downloader::~Downloader() {
    Stop();
    if (thread) {
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
    }
    if (stopEvent) CloseHandle(stopEvent);
    if (connectedEvent) CloseHandle(connectedEvent);
    if (busyEvent) CloseHandle(busyEvent);
    CloseSocket();
    UncountWinsockUser();
    free(address);
    free(request.load());
}

DWORD WINAPI Downloader::WorkerThunk(void* self) {
    return static_cast<Downloader*>(self)->WorkerMain();
}

bool Downloader::NotStopped() {
    return WaitForSingleObject(stopEvent, kCheckWaitMs) == WAIT_TIMEOUT;
}

bool Downloader::IsConnected() {
    return NotStopped() && Signalled(connectedEvent, kCheckWaitMs);
}

bool Downloader::IsBusy() {
    return Signalled(busyEvent, kCheckWaitMs);
}

void Downloader::NotifyWhenFinished(HWND window, UINT message) {
    doneWindow = window;
    doneMessage = message;
}

void Downloader::Stop() {
    if (stopEvent) SetEvent(stopEvent);
    if (connectedEvent) ResetEvent(connectedEvent);
    if (busyEvent) SetEvent(busyEvent);
}

bool Downloader::Start(const char* addressText, bool noWait) {
    if (!thread) {
        if (!addressText || !stopEvent || !connectedEvent || !busyEvent) return false;
        ResetEvent(connectedEvent);
        char* copy = CopyText(addressText);
        if (!copy) return false;
        free(address);
        address = copy;
        PlanRoute(address);
        thread = CreateThread(nullptr, 0, WorkerThunk, this, 0, nullptr);
        if (!thread) {
            free(address);
            address = nullptr;
            return false;
        }
    }
    return noWait || WaitForConnection(kConnectWaitMs);
}

bool Downloader::WaitForConnection(DWORD ms) {
    if (!thread) return false;
    // A worker that has ended will never connect: no need to sit out the whole wait.
    HANDLE waits[2] = {connectedEvent, thread};
    return WaitForMultipleObjects(2, waits, FALSE, ms) == WAIT_OBJECT_0;
}

bool Downloader::Send(const char* text) {
    // The same judgement as IsConnected and IsBusy, without their pacing waits: those are the
    // worker's, and here they would only hold the tray and delay the request.
    if (!text || Signalled(stopEvent, 0) || !Signalled(connectedEvent, 0) ||
        Signalled(busyEvent, 0))
        return false;
    SetEvent(busyEvent);
    char* copy = CopyText(text);
    if (!copy) {
        ResetEvent(busyEvent);
        return false;
    }
    free(request.exchange(copy, std::memory_order_acq_rel));
    SendAll(text, static_cast<int>(strlen(text)), 0, kSendTimeout);
    ResetEvent(busyEvent);
    return true;
}

DWORD Downloader::WorkerMain() {
    OpenConnection(address);
    // Cleared before the connection shows, so that a Send woken by it cannot be undone.
    ResetEvent(busyEvent);
    if (socket != INVALID_SOCKET) {
        SetEvent(connectedEvent);
        if (doneWindow) PostMessageA(doneWindow, doneMessage, 0, 0);
    } else {
        ResetEvent(connectedEvent);
    }
    response.Release();
    int failures = 0;

    while (!Signalled(stopEvent, 0) && Signalled(connectedEvent, 0)) {
        // Send signals busy as it begins and Stop signals it too: either ends this wait at once.
        if (!Request()) {
            Signalled(busyEvent, kStopCheckMs);
            continue;
        }
        // The request is set while Send still holds busy: read once it has let go.
        if (Signalled(busyEvent, 0)) {
            Signalled(stopEvent, kSendCheckMs);
            continue;
        }
        SetEvent(busyEvent);
        bool answered = ReadReply();
        ResetEvent(busyEvent);
        // A server that has said nothing yet is asked again, each time for the read's time-out.
        if (!answered && ++failures > kFirstReadRetries) break;
    }

    finished.store(1, std::memory_order_release);
    ResetEvent(connectedEvent);
    ResetEvent(busyEvent);
    // The destructor joins this thread, so the object is still whole here; a window that has
    // gone meanwhile just refuses the message.
    if (doneWindow) PostMessageA(doneWindow, doneMessage, 0, 0);
    return 0;
}

// Reads until the reply reader has judged the reply; false when nothing came within the time-out.
bool Downloader::ReadReply() {
    char bytes[kReadSize];
    int n = ReceiveSome(bytes, kReadSize, kReceiveTimeout);
    if (n == kReceiveTimedOut) return false;
    ReplyReader reader;
    ReplyVerdict verdict =
        n > 0 ? reader.Feed(bytes, static_cast<size_t>(n)) : reader.End(n == kReceiveClosed);
    DWORD lastCheck = GetTickCount();
    while (verdict == kReplyNeedMore) {
        // While data flows the readiness wait alone paces the reading; Stop is looked for
        // without waiting, and not on every read, as each look costs a call of its own.
        if (GetTickCount() - lastCheck >= kStopCheckMs) {
            lastCheck = GetTickCount();
            if (Signalled(stopEvent, 0) || !Signalled(connectedEvent, 0)) {
                verdict = reader.End(false);
                break;
            }
        }
        n = ReceiveSome(bytes, kReadSize, kReceiveTimeout);
        verdict =
            n > 0 ? reader.Feed(bytes, static_cast<size_t>(n)) : reader.End(n == kReceiveClosed);
    }
    // The connection has nothing more to give: a server that keeps it open is told at once.
    shutdown(socket, SD_BOTH);
    ResetEvent(connectedEvent);
    int32_t capacity = 0;
    char* page = reader.TakeBody(&capacity);
    if (page) response.Adopt(page, capacity);
    return true;
}

void Downloader::CloseSocket() {
    delete tls;
    tls = nullptr;
    if (socket != INVALID_SOCKET) closesocket(socket);
    socket = INVALID_SOCKET;
}

// The address read and the user's proxy chosen; a broken address or proxy plans no connection.
void Downloader::PlanRoute(const char* addressText) {
    planned = true;
    route = kRouteBroken;
    if (!ParseUpdateAddress(addressText, &target)) return;
    UserProxySettings user;
    ReadUserProxySettings(&user);
    route = ChooseProxy(user.settings, target, &proxy);
}

void Downloader::OpenConnection(const char* addressText) {
    CloseSocket();
    if (!planned) PlanRoute(addressText);
    if (route == kRouteBroken) return; // never around a proxy the user named
    bool viaProxy = route == kRouteProxy;
    unsigned long ip = 0;
    if (!ResolveHost(viaProxy ? proxy.host : target.host, &ip)) return;
    socket = ::socket(AF_INET, SOCK_STREAM, 0);
    if (socket == INVALID_SOCKET) return;
    if (!ConnectWithin(socket, ip, viaProxy ? proxy.port : target.port, kConnectWaitMs / 1000,
                       stopEvent)) {
        CloseSocket();
        return;
    }
    FormatHostField(target, &hostField);
    // Plain http asks the proxy for the whole address; https asks it for a tunnel and then
    // speaks to the server itself, so the proxy sees neither the request nor the page.
    FormatRequestTarget(target, viaProxy && !target.https, &requestTarget);
    if (viaProxy && target.https && !OpenTunnel(target)) {
        CloseSocket();
        return;
    }
    if (!target.https) return;
    tls = new (std::nothrow) TlsChannel;
    // The certificate is checked against the server's own name, not the proxy's.
    if (!tls || !tls->Open(socket, target.host, stopEvent)) CloseSocket();
}

// CONNECT to the server through the proxy; true once the proxy says the tunnel stands.
bool Downloader::OpenTunnel(const UpdateAddress& target) {
    // The authority form names the port even where it is the scheme's own (RFC 9110 9.3.6).
    ByteString ask;
    ask.Format("CONNECT %s:%u HTTP/1.1\r\nHost: %s:%u\r\n\r\n", target.host,
               static_cast<unsigned>(target.port), target.host, static_cast<unsigned>(target.port));
    int length = static_cast<int>(ask.Length());
    if (length == 0 || SendWhole(socket, ask.CStr(), length, 0, kSendTimeout, stopEvent) != length)
        return false;
    char reply[kTunnelReplyLimit];
    size_t got = 0;
    for (;;) {
        int n = ReadSome(socket, reply + got, static_cast<int>(sizeof reply - got), kReceiveTimeout,
                         stopEvent);
        if (n <= 0) return false;
        got += static_cast<size_t>(n);
        TunnelVerdict verdict = JudgeTunnelReply(reply, got);
        if (verdict != kTunnelNeedMore) return verdict == kTunnelOpen;
    }
}

bool Downloader::WaitWritable(int timeoutSeconds) {
    return WaitSocket(socket, true, timeoutSeconds, stopEvent) == kSocketReady;
}

bool Downloader::WaitReadable(int timeoutSeconds) {
    return WaitSocket(socket, false, timeoutSeconds, stopEvent) == kSocketReady;
}

int Downloader::SendAll(const char* buffer, int length, int flags, int timeoutSeconds) {
    if (tls) return tls->Send(buffer, length, timeoutSeconds, stopEvent);
    return SendWhole(socket, buffer, length, flags, timeoutSeconds, stopEvent);
}

int Downloader::ReceiveSome(char* buffer, int size, int timeoutSeconds) {
    if (tls) return tls->Read(buffer, size, timeoutSeconds, stopEvent);
    return ReadSome(socket, buffer, size, timeoutSeconds, stopEvent);
}
