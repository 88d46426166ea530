#include "zlvtool/posix_link.h"

#include <arpa/inet.h>
#include <errno.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <string.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

namespace {

enum WaitResult { kWaitReady, kWaitTimedOut, kWaitFailed };

long long NowMs() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// A signal cuts the wait short; the rest of it is waited then, not the whole wait again.
WaitResult WaitFor(int fd, short events, int seconds) {
    long long deadline = NowMs() + static_cast<long long>(seconds) * 1000;
    for (;;) {
        long long left = deadline - NowMs();
        pollfd p = {fd, events, 0};
        int n = poll(&p, 1, left > 0 ? static_cast<int>(left) : 0);
        if (n > 0) return kWaitReady; // errors and hang-ups too: the call after it tells
        if (n == 0) return kWaitTimedOut;
        if (errno != EINTR) return kWaitFailed;
    }
}

// As the agent: a dotted address as it is, a name through the resolver, IPv4, the first address.
bool Resolve(const char* host, in_addr* address) {
    in_addr_t dotted = inet_addr(host);
    if (dotted != INADDR_NONE) {
        address->s_addr = dotted;
        return true;
    }
    addrinfo hints;
    memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host, nullptr, &hints, &found) != 0 || !found) return false;
    *address = reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr;
    freeaddrinfo(found);
    return true;
}

LinkEnd ConnectEnd(int error) {
    switch (error) {
    case ECONNREFUSED:
        return kLinkRefused;
    case ETIMEDOUT:
        return kLinkTimedOut;
    default:
        return kLinkUnreachable;
    }
}

LinkEnd Connect(void* context, const char* host, unsigned short port, int seconds, int* error) {
    PosixLink* link = static_cast<PosixLink*>(context);
    sockaddr_in address;
    memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    if (!Resolve(host, &address.sin_addr)) return kLinkNoName;
    link->fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (link->fd < 0) {
        *error = errno;
        return kLinkUnreachable;
    }
    if (connect(link->fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0)
        return kLinkOk;
    if (errno != EINPROGRESS) {
        *error = errno;
        return ConnectEnd(*error);
    }
    WaitResult wait = WaitFor(link->fd, POLLOUT, seconds);
    if (wait == kWaitTimedOut) return kLinkTimedOut;
    socklen_t size = sizeof *error;
    if (wait == kWaitFailed || getsockopt(link->fd, SOL_SOCKET, SO_ERROR, error, &size) != 0)
        *error = errno;
    return *error == 0 ? kLinkOk : ConnectEnd(*error);
}

void Send(void* context, const char* text, size_t size, int seconds) {
    int fd = static_cast<PosixLink*>(context)->fd;
    while (size && WaitFor(fd, POLLOUT, seconds) == kWaitReady) {
        // No SIGPIPE from a server that has gone: its reply, or none, says what happened.
        ssize_t n = send(fd, text, size, MSG_NOSIGNAL);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n <= 0) return;
        text += n;
        size -= static_cast<size_t>(n);
    }
}

size_t Read(void* context, char* buffer, size_t size, int seconds, LinkEnd* end) {
    int fd = static_cast<PosixLink*>(context)->fd;
    for (;;) {
        WaitResult wait = WaitFor(fd, POLLIN, seconds);
        if (wait != kWaitReady) {
            *end = wait == kWaitTimedOut ? kLinkTimedOut : kLinkFailed;
            return 0;
        }
        ssize_t n = recv(fd, buffer, size, 0);
        if (n > 0) return static_cast<size_t>(n);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        *end = n == 0 ? kLinkClosed : kLinkFailed;
        return 0;
    }
}

} // namespace

PosixLink::~PosixLink() {
    if (fd >= 0) close(fd);
}

FetchLink PosixLink::Link() {
    return {this, Connect, Send, Read};
}
