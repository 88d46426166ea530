#include "agent/update/tls_channel.h"

#include <schannel.h>
#include <stdlib.h>
#include <string.h>

#include "agent/update/socket_connection.h"

namespace {

const ULONG kContextFlags = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT |
                            ISC_REQ_CONFIDENTIALITY | ISC_REQ_EXTENDED_ERROR |
                            ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM |
                            ISC_REQ_MANUAL_CRED_VALIDATION;

// The handshake waits as long for each read as the reply does.
const int kHandshakeReadSeconds = 2;
// The first byte of a TLS record that carries an alert.
const unsigned char kAlertRecord = 21;

SecBufferDesc Describe(SecBuffer* buffers, ULONG count) {
    SecBufferDesc d;
    d.ulVersion = SECBUFFER_VERSION;
    d.cBuffers = count;
    d.pBuffers = buffers;
    return d;
}

SecBuffer Buffer(ULONG type, void* bytes, size_t size) {
    SecBuffer b;
    b.BufferType = type;
    b.pvBuffer = bytes;
    b.cbBuffer = static_cast<ULONG>(size);
    return b;
}

const SecBuffer* Find(const SecBuffer* buffers, ULONG count, ULONG type) {
    for (ULONG i = 0; i < count; ++i)
        if (buffers[i].BufferType == type) return &buffers[i];
    return nullptr;
}

} // namespace

TlsChannel::TlsChannel()
    : incoming(static_cast<char*>(malloc(kIncomingSize))),
      plain(static_cast<char*>(malloc(kPlainSize))) {
    static void* volatile secur32 = nullptr;
    HMODULE module = KeptSystemLibrary(L"secur32.dll", &secur32);
    INIT_SECURITY_INTERFACE_W init =
        reinterpret_cast<INIT_SECURITY_INTERFACE_W>(reinterpret_cast<void*>(
            module ? GetProcAddress(module, "InitSecurityInterfaceW") : nullptr));
    sspi = init ? init() : nullptr;
    ZeroMemory(&sizes, sizeof sizes);
    host[0] = L'\0';
}

TlsChannel::~TlsChannel() {
    if (haveContext) sspi->DeleteSecurityContext(&context);
    if (haveCredentials) sspi->FreeCredentialsHandle(&credentials);
}

bool TlsChannel::Open(SOCKET s, const char* hostText, HANDLE stopEvent) {
    socket = s;
    stop = stopEvent;
    if (!sspi || !trust.Bound() || !incoming.Held() || !plain.Held() || !hostText) return false;
    size_t n = strlen(hostText);
    if (n == 0 || n >= sizeof host / sizeof host[0]) return false;
    for (size_t i = 0; i <= n; ++i) // the address allows ASCII alone
        host[i] = static_cast<unsigned char>(hostText[i]);

    // Protocols and ciphers are left to the system; the certificate is judged below, by the
    // system's policy, rather than by Schannel on its own terms.
    SCHANNEL_CRED schannel;
    ZeroMemory(&schannel, sizeof schannel);
    schannel.dwVersion = SCHANNEL_CRED_VERSION;
    schannel.dwFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS;
    TimeStamp expiry;
    if (sspi->AcquireCredentialsHandleW(nullptr, const_cast<wchar_t*>(UNISP_NAME_W),
                                        SECPKG_CRED_OUTBOUND, nullptr, &schannel, nullptr, nullptr,
                                        &credentials, &expiry) != SEC_E_OK)
        return false;
    haveCredentials = true;

    SecBuffer hello = Buffer(SECBUFFER_TOKEN, nullptr, 0);
    SecBufferDesc out = Describe(&hello, 1);
    ULONG attributes = 0;
    SECURITY_STATUS status =
        sspi->InitializeSecurityContextW(&credentials, nullptr, host, kContextFlags, 0, 0, nullptr,
                                         0, &context, &out, &attributes, &expiry);
    if (status != SEC_I_CONTINUE_NEEDED) {
        if (hello.pvBuffer) sspi->FreeContextBuffer(hello.pvBuffer);
        return false;
    }
    haveContext = true;
    if (!SendToken(hello) || !Negotiate(true, kHandshakeReadSeconds)) return false;
    if (sspi->QueryContextAttributesW(&context, SECPKG_ATTR_STREAM_SIZES, &sizes) != SEC_E_OK ||
        sizes.cbMaximumMessage == 0)
        return false;
    return ServerTrusted();
}

bool TlsChannel::ServerTrusted() {
    PCCERT_CONTEXT certificate = nullptr;
    if (sspi->QueryContextAttributesW(&context, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &certificate) !=
        SEC_E_OK)
        return false;
    bool trusted = trust.Accepts(certificate, host);
    trust.Free(certificate);
    return trusted;
}

// Sends what the handshake produced and gives its buffer back.
bool TlsChannel::SendToken(const SecBuffer& token) {
    if (!token.pvBuffer) return true;
    int size = static_cast<int>(token.cbBuffer);
    bool sent = size == 0 || SendWhole(socket, static_cast<const char*>(token.pvBuffer), size, 0,
                                       kHandshakeReadSeconds, stop) == size;
    sspi->FreeContextBuffer(token.pvBuffer);
    return sent;
}

bool TlsChannel::ReadMore(int timeoutSeconds) {
    if (incomingUsed >= kIncomingSize) return false; // more than any record can be
    int n = ReadSome(socket, incoming.Get() + incomingUsed,
                     static_cast<int>(kIncomingSize - incomingUsed), timeoutSeconds, stop);
    if (n <= 0) return false;
    incomingUsed += static_cast<size_t>(n);
    return true;
}

// What Schannel left unread moves to the front; without it, everything was taken.
void TlsChannel::KeepExtra(const SecBuffer* extra) {
    if (!extra || extra->cbBuffer == 0 || extra->cbBuffer > incomingUsed) {
        incomingUsed = 0;
        return;
    }
    memmove(incoming.Get(), incoming.Get() + incomingUsed - extra->cbBuffer, extra->cbBuffer);
    incomingUsed = extra->cbBuffer;
}

// The handshake from what has come (or, with readFirst, from what comes next) to its end.
bool TlsChannel::Negotiate(bool readFirst, int timeoutSeconds) {
    bool askedForCertificate = false;
    for (int round = 0; round < kHandshakeRounds; ++round) {
        if (readFirst && !ReadMore(timeoutSeconds)) return false;
        readFirst = true;
        SecBuffer in[2] = {Buffer(SECBUFFER_TOKEN, incoming.Get(), incomingUsed),
                           Buffer(SECBUFFER_EMPTY, nullptr, 0)};
        SecBuffer out[1] = {Buffer(SECBUFFER_TOKEN, nullptr, 0)};
        SecBufferDesc inDesc = Describe(in, 2), outDesc = Describe(out, 1);
        ULONG attributes = 0;
        TimeStamp expiry;
        SECURITY_STATUS status =
            sspi->InitializeSecurityContextW(&credentials, &context, host, kContextFlags, 0, 0,
                                             &inDesc, 0, nullptr, &outDesc, &attributes, &expiry);
        // Alerts too: the server learns why, though the attempt fails all the same.
        if (!SendToken(out[0])) return false;
        if (status == SEC_E_INCOMPLETE_MESSAGE) continue;
        if (status == SEC_I_INCOMPLETE_CREDENTIALS && !askedForCertificate) {
            // A server that asks for a client certificate gets none; the same bytes again.
            askedForCertificate = true;
            readFirst = false;
            continue;
        }
        if (status != SEC_E_OK && status != SEC_I_CONTINUE_NEEDED) return false;
        KeepExtra(Find(in, 2, SECBUFFER_EXTRA));
        if (status == SEC_E_OK) return true;
        readFirst = incomingUsed == 0;
    }
    return false;
}

int TlsChannel::Send(const char* text, int length, int timeoutSeconds, HANDLE stopEvent) {
    if (!haveContext || broken || length < 0) return -1;
    stop = stopEvent;
    size_t room = sizes.cbHeader + sizes.cbMaximumMessage + sizes.cbTrailer;
    ScopedMalloc<char> record(static_cast<char*>(malloc(room)));
    if (!record.Held()) return -1;
    int total = 0;
    while (total < length) {
        size_t piece = static_cast<size_t>(length - total);
        if (piece > sizes.cbMaximumMessage) piece = sizes.cbMaximumMessage;
        char* data = record.Get() + sizes.cbHeader;
        memcpy(data, text + total, piece);
        SecBuffer parts[4] = {Buffer(SECBUFFER_STREAM_HEADER, record.Get(), sizes.cbHeader),
                              Buffer(SECBUFFER_DATA, data, piece),
                              Buffer(SECBUFFER_STREAM_TRAILER, data + piece, sizes.cbTrailer),
                              Buffer(SECBUFFER_EMPTY, nullptr, 0)};
        SecBufferDesc desc = Describe(parts, 4);
        if (sspi->EncryptMessage(&context, 0, &desc, 0) != SEC_E_OK) return -1;
        int size = static_cast<int>(parts[0].cbBuffer + parts[1].cbBuffer + parts[2].cbBuffer);
        if (SendWhole(socket, record.Get(), size, 0, timeoutSeconds, stop) != size) return -1;
        total += static_cast<int>(piece);
    }
    return total;
}

// One step with what has come: the data of a record, the end, or the need for more.
bool TlsChannel::Decrypt() {
    // Schannel takes one record a call. Under Wine it takes the server's close_notify as a record
    // with nothing in it, where Windows says SEC_I_CONTEXT_EXPIRED: an alert it accepts without
    // a word can only be that close, since any other ends the session with an error.
    bool alert = static_cast<unsigned char>(incoming.Get()[0]) == kAlertRecord;
    SecBuffer parts[4] = {Buffer(SECBUFFER_DATA, incoming.Get(), incomingUsed),
                          Buffer(SECBUFFER_EMPTY, nullptr, 0), Buffer(SECBUFFER_EMPTY, nullptr, 0),
                          Buffer(SECBUFFER_EMPTY, nullptr, 0)};
    SecBufferDesc desc = Describe(parts, 4);
    SECURITY_STATUS status = sspi->DecryptMessage(&context, &desc, 0, nullptr);
    if (status == SEC_E_INCOMPLETE_MESSAGE) return true;
    if (status != SEC_E_OK && status != SEC_I_RENEGOTIATE && status != SEC_I_CONTEXT_EXPIRED)
        return false;
    const SecBuffer* data = Find(parts, 4, SECBUFFER_DATA);
    if (data && data->cbBuffer) {
        if (data->cbBuffer > kPlainSize) return false;
        memcpy(plain.Get(), data->pvBuffer, data->cbBuffer);
        plainStart = 0;
        plainEnd = data->cbBuffer;
    }
    if (status == SEC_I_CONTEXT_EXPIRED ||
        (status == SEC_E_OK && alert && plainEnd == plainStart)) {
        closeNotified = true; // the server's close_notify: the one true end of the stream
        incomingUsed = 0;
        return true;
    }
    KeepExtra(Find(parts, 4, SECBUFFER_EXTRA));
    if (status != SEC_I_RENEGOTIATE) return true;
    // The server has more to say about the session (a new handshake, or TLS 1.3's tickets):
    // answered as the handshake was, and the certificate, perhaps new, judged again.
    return Negotiate(false, kHandshakeReadSeconds) && ServerTrusted();
}

int TlsChannel::Read(char* buffer, int size, int timeoutSeconds, HANDLE stopEvent) {
    if (!haveContext || broken || size <= 0) return kReceiveFailed;
    stop = stopEvent;
    for (;;) {
        if (plainStart < plainEnd) {
            size_t n = plainEnd - plainStart;
            if (n > static_cast<size_t>(size)) n = static_cast<size_t>(size);
            memcpy(buffer, plain.Get() + plainStart, n);
            plainStart += n;
            return static_cast<int>(n);
        }
        if (closeNotified) return kReceiveClosed;
        size_t before = incomingUsed;
        if (incomingUsed && !Decrypt()) {
            broken = true;
            return kReceiveFailed;
        }
        // Something was taken: look again before waiting for the network.
        if (plainStart < plainEnd || closeNotified || incomingUsed != before) continue;
        if (incomingUsed >= kIncomingSize) {
            broken = true;
            return kReceiveFailed;
        }
        int n = ReadSome(socket, incoming.Get() + incomingUsed,
                         static_cast<int>(kIncomingSize - incomingUsed), timeoutSeconds, stop);
        if (n > 0) {
            incomingUsed += static_cast<size_t>(n);
            continue;
        }
        if (n == kReceiveTimedOut) return n;
        // A connection that ends without the server's close_notify may have been cut by anyone.
        broken = true;
        return kReceiveFailed;
    }
}
