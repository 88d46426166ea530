#include "agent/update/socket_connection.h"

#include <string.h>

namespace {

volatile LONG winsockUsers = 0;
WSADATA winsockData;

const WORD kWinsockVersion = 0x0001;
// Waits are cut into slices this long, so that Stop ends a quiet one at once.
const DWORD kSliceMs = 100;
const int kZeroSendRounds = 3;

bool Signalled(HANDLE event) {
    return event && WaitForSingleObject(event, 0) == WAIT_OBJECT_0;
}

} // namespace

SocketReads g_socketReads = {::recv, ::getpeername};

void CountWinsockUser() {
    if (InterlockedIncrement(&winsockUsers) == 1) {
        memset(&winsockData, 0, sizeof winsockData);
        // A failure shows later as a connection that never stands.
        WSAStartup(kWinsockVersion, &winsockData);
    }
}

void UncountWinsockUser() {
    if (InterlockedDecrement(&winsockUsers) == 0) WSACleanup();
}

bool ResolveHost(const char* host, unsigned long* address) {
    if (!host || !*host) return false;
    unsigned long ip = inet_addr(host);
    if (ip == INADDR_NONE) {
        hostent* entry = gethostbyname(host);
        if (!entry || entry->h_addrtype != AF_INET || entry->h_length != 4 || !entry->h_addr_list ||
            !entry->h_addr_list[0])
            return false;
        memcpy(&ip, entry->h_addr_list[0], 4);
    }
    *address = ip;
    return true;
}

bool ConnectWithin(SOCKET s, unsigned long ip, unsigned short port, int timeoutSeconds,
                   HANDLE stop) {
    sockaddr_in address;
    memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = ip;
    // Not blocking, so that Stop also ends a connect to a host that never answers, which would
    // otherwise hold the destructor for the system's whole connect time-out.
    u_long nonBlocking = 1;
    bool waits = ioctlsocket(s, FIONBIO, &nonBlocking) == 0;
    bool ok = connect(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    if (!ok && waits && WSAGetLastError() == WSAEWOULDBLOCK &&
        WaitSocket(s, true, timeoutSeconds, stop) == kSocketReady) {
        int error = -1;
        int size = sizeof error;
        ok = getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) == 0 &&
             error == 0;
    }
    nonBlocking = 0;
    if (waits && ioctlsocket(s, FIONBIO, &nonBlocking) != 0) ok = false;
    return ok;
}

SocketWait WaitSocket(SOCKET s, bool write, int timeoutSeconds, HANDLE stop) {
    if (s == INVALID_SOCKET) return kSocketFailed;
    DWORD total = timeoutSeconds > 0 ? static_cast<DWORD>(timeoutSeconds) * 1000 : 0;
    DWORD start = GetTickCount();
    for (;;) {
        DWORD spent = GetTickCount() - start;
        DWORD slice = spent < total ? total - spent : 0;
        if (slice > kSliceMs) slice = kSliceMs;
        fd_set ready, exceptions;
        FD_ZERO(&ready);
        FD_ZERO(&exceptions);
        FD_SET(s, &ready);
        FD_SET(s, &exceptions);
        timeval wait = {static_cast<long>(slice / 1000), static_cast<long>(slice % 1000) * 1000};
        int n = select(static_cast<int>(s + 1), write ? nullptr : &ready, write ? &ready : nullptr,
                       &exceptions, &wait);
        if (n > 0) return kSocketReady;
        if (n < 0) return kSocketFailed;
        if (GetTickCount() - start >= total) return kSocketTimedOut;
        if (Signalled(stop)) return kSocketFailed;
    }
}

int SendWhole(SOCKET s, const char* buffer, int length, int flags, int timeoutSeconds,
              HANDLE stop) {
    int total = 0;
    int zeroRounds = 0;
    while (length > 0) {
        if (WaitSocket(s, true, timeoutSeconds, stop) != kSocketReady) return -1;
        int n = send(s, buffer, length, flags);
        if (n < 0) return -1;
        total += n;
        buffer += n;
        length -= n;
        zeroRounds = n == 0 ? zeroRounds + 1 : 0;
        if (zeroRounds >= kZeroSendRounds) break;
    }
    return total;
}

int ReadSome(SOCKET s, char* buffer, int size, int timeoutSeconds, HANDLE stop) {
    SocketWait ready = WaitSocket(s, false, timeoutSeconds, stop);
    if (ready == kSocketTimedOut) return kReceiveTimedOut;
    if (ready != kSocketReady) return kReceiveFailed;
    int n = g_socketReads.recv(s, buffer, size, 0);
    if (n < 0) return kReceiveFailed;
    if (n > 0) return n;
    // A reset that comes while select waits is taken by Wine for a close, but it leaves the socket
    // without its peer; a peer that closed is still named until the socket is closed.
    sockaddr_in peer;
    int length = sizeof peer;
    if (g_socketReads.getpeername(s, reinterpret_cast<sockaddr*>(&peer), &length) != 0 &&
        WSAGetLastError() == WSAENOTCONN)
        return kReceiveFailed;
    return kReceiveClosed;
}
