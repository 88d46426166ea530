#include "agent/update/downloader.h"

#include <stdlib.h>
#include <string.h>

#include "agent/update/http_status.h"
#include "agent/update/rates_format.h"
#include "agent/update/socket_connection.h"

namespace {

// Heap copy with room for the terminator and two spare zero bytes.
char* CopyText(const char* text) {
    size_t n = strlen(text);
    char* copy = static_cast<char*>(calloc(n + 3, 1));
    if (copy) memcpy(copy, text, n);
    return copy;
}

DWORD WINAPI WorkerThunk(void* self) {
    return static_cast<Downloader*>(self)->WorkerMain();
}

// The page is text: a zero byte would end the chunk early and silently drop what follows it.
// A read ended by the close counts none of its bytes; they run up to the first zero of the
// zero-filled buffer unless a zero came with them.
bool ChunkHoldsZero(const char* chunk, int counted) {
    size_t text = strlen(chunk);
    if (counted > 0) return text < static_cast<size_t>(counted);
    for (size_t i = text; i < Downloader::kChunkSize; ++i)
        if (chunk[i]) return true;
    return false;
}

// Chunks reach the response a few kilobytes at a time. Every append reallocates and copies the
// whole response, so 32 bytes at a time a 60 KB page cost that 2000 times over: tens of
// milliseconds of the worker's time, which made the page miss the next tick.
class ChunkBatch {
  public:
    explicit ChunkBatch(ByteString* target) : target(target) {}
    bool Add(const char* chunk) {
        size_t n = strlen(chunk);
        if (used + n > kSize && !Flush()) return false;
        memcpy(text + used, chunk, n);
        used += n;
        return true;
    }
    // Append grows the capacity by exactly the text's length, or leaves the string as it was when
    // memory runs out; a page with a hole must not pass as whole.
    bool Flush() {
        if (used == 0) return true;
        text[used] = '\0';
        int32_t before = target->Capacity();
        target->Append(text);
        bool whole = target->Capacity() == before + static_cast<int32_t>(used);
        used = 0;
        return whole;
    }

  private:
    enum { kSize = 4096 };
    ByteString* target;
    char text[kSize + 1];
    size_t used = 0;
};

} // namespace

Downloader::Downloader()
    : socket(INVALID_SOCKET), thread(nullptr), host(nullptr), request(nullptr), finished(0) {
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
    if (socket != INVALID_SOCKET) closesocket(socket);
    UncountWinsockUser();
    free(host);
    free(request);
}

bool Downloader::Signalled(HANDLE event, DWORD waitMs) {
    return WaitForSingleObject(event, waitMs) == WAIT_OBJECT_0;
}

bool Downloader::NotStopped() {
    return WaitForSingleObject(stopEvent, 10) == WAIT_TIMEOUT;
}

bool Downloader::IsConnected() {
    return NotStopped() && Signalled(connectedEvent, 10);
}

bool Downloader::IsBusy() {
    return Signalled(busyEvent, 10);
}

void Downloader::Stop() {
    if (stopEvent) SetEvent(stopEvent);
    if (connectedEvent) ResetEvent(connectedEvent);
    if (busyEvent) SetEvent(busyEvent);
}

bool Downloader::Start(const char* hostText, bool noWait) {
    if (!thread) {
        if (!hostText || !stopEvent || !connectedEvent || !busyEvent) return false;
        ResetEvent(connectedEvent);
        char* copy = CopyText(hostText);
        if (!copy) return false;
        free(host);
        host = copy;
        thread = CreateThread(nullptr, 0, WorkerThunk, this, 0, nullptr);
        if (!thread) {
            free(host);
            host = nullptr;
            return false;
        }
    }
    if (noWait) return true;
    // A worker that has ended will never connect: no need to sit out the whole wait.
    HANDLE waits[2] = {connectedEvent, thread};
    return WaitForMultipleObjects(2, waits, FALSE, kConnectWaitMs) == WAIT_OBJECT_0;
}

bool Downloader::Send(const char* text) {
    if (!text || !IsConnected() || IsBusy()) return false;
    SetEvent(busyEvent);
    char* copy = CopyText(text);
    if (!copy) {
        ResetEvent(busyEvent);
        return false;
    }
    char* old = request;
    request = copy;
    free(old);
    SendAll(text, static_cast<int>(strlen(text)), 0, kSendTimeout);
    ResetEvent(busyEvent);
    return true;
}

DWORD Downloader::WorkerMain() {
    OpenConnection(host);
    if (socket != INVALID_SOCKET)
        SetEvent(connectedEvent);
    else
        ResetEvent(connectedEvent);
    ResetEvent(busyEvent);
    response.Release();
    finished = 0;
    int failures = 0;

    while (NotStopped()) {
        if (!IsConnected()) break;
        if (IsBusy() || !request) continue;
        SetEvent(busyEvent);
        char chunk[kChunkSize + 1];
        memset(chunk, 0, sizeof chunk);
        int n = ReceiveAll(chunk, kChunkSize, 0, kReceiveTimeout);
        if (n > 0) {
            ReadResponse(chunk);
        } else if (n < 0 && ++failures > kFirstReadRetries) {
            ResetEvent(busyEvent);
            break;
        }
        // n == 0: the server closed before a whole first chunk came; nothing to judge it by.
        ResetEvent(busyEvent);
    }

    MemoryBarrier();
    finished = 1;
    ResetEvent(connectedEvent);
    ResetEvent(busyEvent);
    return 0;
}

void Downloader::ReadResponse(const char* firstChunk) {
    bool keep = ParseHttpStatus(firstChunk, kChunkSize) == kHttpOk;
    bool failed = false;
    size_t received = kChunkSize;
    ChunkBatch batch(&response);
    if (keep && (ChunkHoldsZero(firstChunk, kChunkSize) || !batch.Add(firstChunk))) failed = true;

    char chunk[kChunkSize + 1];
    DWORD lastCheck = GetTickCount();
    while (!failed) {
        // While data flows the readiness wait alone paces the reading; Stop is looked for
        // without waiting, and not on every chunk, as each look costs a call of its own.
        if (GetTickCount() - lastCheck >= kStopCheckMs) {
            lastCheck = GetTickCount();
            if (Signalled(stopEvent, 0) || !Signalled(connectedEvent, 0)) {
                failed = true; // a page cut off by Stop is no page
                break;
            }
        }
        memset(chunk, 0, sizeof chunk);
        int n = ReceiveAll(chunk, kChunkSize, 0, kReceiveTimeout);
        // Only the server's close ends a page; a reset or a stall leaves an unknown part unsent.
        if (n < 0) {
            failed = true;
            break;
        }
        if (n > 0) received += static_cast<size_t>(n);
        // More than any rates page can carry: give up rather than keep growing.
        if (received > kResponseLimit) failed = true;
        if (!failed && keep && (ChunkHoldsZero(chunk, n) || !batch.Add(chunk))) failed = true;
        if (n == 0) break; // the server closed: the page is complete
    }
    if (!failed && keep && !batch.Flush()) failed = true;
    // Whatever ended the reading, this connection has nothing more to give.
    ResetEvent(connectedEvent);

    unsigned lines = 0;
    if (failed ||
        (keep && CheckRatesResponse(response.CStr(), response.Length(), &lines) != kRatesOk))
        response.Release();
}
