// The socket layer under the Downloader: Windows Sockets kept started while any Downloader
// lives, and the waits, connect, send and read on one socket that the Downloader's members use.
// Each wait gives up early when the stop event is signalled.
#pragma once
#include <winsock2.h>

#include "agent/update/update_request.h"

void CountWinsockUser();
void UncountWinsockUser();

// The calls that say how a read ended. Tests put their own in, to make the reset that Wine
// cannot show: on Windows a reset fails recv, under Wine it reads as a close.
struct SocketReads {
    int(WSAAPI* recv)(SOCKET s, char* buffer, int size, int flags);
    int(WSAAPI* getpeername)(SOCKET s, sockaddr* name, int* length);
};
extern SocketReads g_socketReads;

enum SocketWait { kSocketReady, kSocketTimedOut, kSocketFailed };
// How a read ended when it read nothing.
enum { kReceiveClosed = 0, kReceiveFailed = -1, kReceiveTimedOut = -2 };

// A dotted address as it is, a name through the resolver; false when it names no IPv4 host.
bool ResolveHost(const char* host, unsigned long* address);
bool ConnectWithin(SOCKET s, unsigned long address, unsigned short port, int timeoutSeconds,
                   HANDLE stop);
SocketWait WaitSocket(SOCKET s, bool write, int timeoutSeconds, HANDLE stop);
// The bytes sent (short after three sends that took nothing), or -1.
int SendWhole(SOCKET s, const char* buffer, int length, int flags, int timeoutSeconds, HANDLE stop);
// One read of what has come: the bytes read, or one of the kReceive results.
int ReadSome(SOCKET s, char* buffer, int size, int timeoutSeconds, HANDLE stop);
