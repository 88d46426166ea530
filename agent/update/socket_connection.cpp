#include "agent/update/socket_connection.h"

#include <string.h>

#include "agent/update/downloader.h"

namespace {

volatile LONG winsockUsers = 0;
WSADATA winsockData;

enum { kHttpPort = 80, kSliceMs = 100 };

} // namespace

SocketReads g_socketReads = {::recv, ::getpeername};

void CountWinsockUser() {
    if (InterlockedIncrement(&winsockUsers) == 1) {
        memset(&winsockData, 0, sizeof winsockData);
        // A failure shows later as a connection that never stands.
        WSAStartup(0x0001, &winsockData);
    }
}

void UncountWinsockUser() {
    if (InterlockedDecrement(&winsockUsers) == 0) WSACleanup();
}

void Downloader::OpenConnection(const char* hostText) {
    if (socket != INVALID_SOCKET) {
        closesocket(socket);
        socket = INVALID_SOCKET;
    }
    socket = ::socket(AF_INET, SOCK_STREAM, 0);
    if (socket == INVALID_SOCKET) return;

    sockaddr_in address;
    memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_port = htons(kHttpPort);
    unsigned long ip = hostText ? inet_addr(hostText) : INADDR_NONE;
    if (ip == INADDR_NONE) {
        hostent* entry = hostText && *hostText ? gethostbyname(hostText) : nullptr;
        if (!entry || entry->h_addrtype != AF_INET || entry->h_length != 4 || !entry->h_addr_list ||
            !entry->h_addr_list[0]) {
            closesocket(socket);
            socket = INVALID_SOCKET;
            return;
        }
        memcpy(&ip, entry->h_addr_list[0], 4);
    }
    address.sin_addr.s_addr = ip;
    if (!Connect(address)) {
        closesocket(socket);
        socket = INVALID_SOCKET;
    }
}

bool Downloader::Connect(const sockaddr_in& address) {
    // Not blocking, so that Stop also ends a connect to a host that never answers, which would
    // otherwise hold the destructor for the system's whole connect time-out.
    u_long nonBlocking = 1;
    bool waits = ioctlsocket(socket, FIONBIO, &nonBlocking) == 0;
    bool ok = connect(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    if (!ok && waits && WSAGetLastError() == WSAEWOULDBLOCK &&
        WaitWritable(kConnectWaitMs / 1000)) {
        int error = -1;
        int size = sizeof error;
        ok =
            getsockopt(socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) == 0 &&
            error == 0;
    }
    nonBlocking = 0;
    if (waits && ioctlsocket(socket, FIONBIO, &nonBlocking) != 0) ok = false;
    return ok;
}

int Downloader::WaitReady(bool write, int timeoutSeconds) {
    if (socket == INVALID_SOCKET) return kWaitFailed;
    // Waiting in short slices lets Stop end a quiet read at once instead of after the time-out.
    DWORD total = timeoutSeconds > 0 ? static_cast<DWORD>(timeoutSeconds) * 1000 : 0;
    DWORD start = GetTickCount();
    for (;;) {
        DWORD spent = GetTickCount() - start;
        DWORD slice = spent < total ? total - spent : 0;
        if (slice > kSliceMs) slice = kSliceMs;
        fd_set ready, exceptions;
        FD_ZERO(&ready);
        FD_ZERO(&exceptions);
        FD_SET(socket, &ready);
        FD_SET(socket, &exceptions);
        timeval wait = {static_cast<long>(slice / 1000), static_cast<long>(slice % 1000) * 1000};
        int n = select(static_cast<int>(socket + 1), write ? nullptr : &ready,
                       write ? &ready : nullptr, &exceptions, &wait);
        if (n > 0) return kWaitReady;
        if (n < 0) return kWaitFailed;
        if (GetTickCount() - start >= total) return kWaitTimedOut;
        if (WaitForSingleObject(stopEvent, 0) == WAIT_OBJECT_0) return kWaitFailed;
    }
}

bool Downloader::WaitWritable(int timeoutSeconds) {
    return WaitReady(true, timeoutSeconds) == kWaitReady;
}

bool Downloader::WaitReadable(int timeoutSeconds) {
    return WaitReady(false, timeoutSeconds) == kWaitReady;
}

int Downloader::SendAll(const char* buffer, int length, int flags, int timeoutSeconds) {
    int total = 0;
    int zeroRounds = 0;
    while (length > 0) {
        if (!WaitWritable(timeoutSeconds)) return -1;
        int n = send(socket, buffer, length, flags);
        if (n < 0) return -1;
        total += n;
        buffer += n;
        length -= n;
        zeroRounds = n == 0 ? zeroRounds + 1 : 0;
        if (zeroRounds >= 3) break;
    }
    return total;
}

int Downloader::ReceiveSome(char* buffer, int size, int timeoutSeconds) {
    int ready = WaitReady(false, timeoutSeconds);
    if (ready == kWaitTimedOut) return kReceiveTimedOut;
    if (ready != kWaitReady) return kReceiveFailed;
    int n = g_socketReads.recv(socket, buffer, size, 0);
    if (n < 0) return kReceiveFailed;
    if (n > 0) return n;
    // A reset that comes while select waits is taken by Wine for a close, but it leaves the socket
    // without its peer; a peer that closed is still named until the socket is closed.
    sockaddr_in peer;
    int length = sizeof peer;
    if (g_socketReads.getpeername(socket, reinterpret_cast<sockaddr*>(&peer), &length) != 0 &&
        WSAGetLastError() == WSAENOTCONN)
        return kReceiveFailed;
    return kReceiveClosed;
}
