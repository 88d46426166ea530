// Windows Sockets stays started while any Downloader lives.
#pragma once
#include <winsock2.h>

void CountWinsockUser();
void UncountWinsockUser();

// The calls that say how a read ended. Tests put their own in, to make the reset that Wine
// cannot show: on Windows a reset fails recv, under Wine it reads as a close.
struct SocketReads {
    int(WSAAPI* recv)(SOCKET s, char* buffer, int size, int flags);
    int(WSAAPI* getpeername)(SOCKET s, sockaddr* name, int* length);
};
extern SocketReads g_socketReads;
