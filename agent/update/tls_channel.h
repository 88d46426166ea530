// TLS over the downloader's socket through Windows' own Schannel (SSPI): the system's protocol
// versions, cipher suites and roots, SNI, and the server's certificate checked for the host
// before a byte of the request goes out. secur32 is bound by full path at run time.
#pragma once
#include <winsock2.h>
#include <windows.h>
#define SECURITY_WIN32
#include <security.h>

#include "agent/owners.h"
#include "agent/update/tls_trust.h"

class TlsChannel {
  public:
    TlsChannel();
    TlsChannel(const TlsChannel&) = delete;
    TlsChannel& operator=(const TlsChannel&) = delete;
    ~TlsChannel();

    // The handshake on a connected socket, then the certificate; false for any failure.
    bool Open(SOCKET socket, const char* host, HANDLE stop);
    // The bytes sent, or -1.
    int Send(const char* text, int length, int timeoutSeconds, HANDLE stop);
    // What the server sent, decrypted, or one of the kReceive results. Only the server's
    // close_notify is a close; a connection that ends without it has failed.
    int Read(char* buffer, int size, int timeoutSeconds, HANDLE stop);

    enum {
        kIncomingSize = 64 * 1024, // room for whole handshake records
        kPlainSize = 18 * 1024,    // one record's data
        kHandshakeRounds = 64,
    };

  private:
    bool Negotiate(bool readFirst, int timeoutSeconds);
    bool ServerTrusted();
    bool ReadMore(int timeoutSeconds);
    bool SendToken(const SecBuffer& token);
    bool Decrypt();
    void KeepExtra(const SecBuffer* extra);

    ServerTrust trust;
    PSecurityFunctionTableW sspi = nullptr;
    CredHandle credentials;
    bool haveCredentials = false;
    CtxtHandle context;
    bool haveContext = false;
    SecPkgContext_StreamSizes sizes;
    SOCKET socket = INVALID_SOCKET;
    HANDLE stop = nullptr;
    wchar_t host[256];
    ScopedMalloc<char> incoming; // ciphertext not yet decrypted
    size_t incomingUsed = 0;
    ScopedMalloc<char> plain; // decrypted, not yet read
    size_t plainStart = 0, plainEnd = 0;
    bool closeNotified = false;
    bool broken = false;
};
