#include "agent/update/tunnel_reply.h"

#include <string.h>

namespace {

const int kFirstSuccess = 200, kLastSuccess = 299;

// The blank line's end (CR LF CR LF or LF LF, as the reply reader takes them), or 0.
size_t HeadEnd(const char* bytes, size_t size) {
    for (size_t i = 1; i < size; ++i) {
        if (bytes[i] != '\n') continue;
        if (bytes[i - 1] == '\n') return i + 1;
        if (i >= 2 && bytes[i - 1] == '\r' && bytes[i - 2] == '\n') return i + 1;
    }
    return 0;
}

} // namespace

TunnelVerdict JudgeTunnelReply(const char* bytes, size_t size) {
    if (memchr(bytes, '\0', size)) return kTunnelRefused;
    size_t end = HeadEnd(bytes, size);
    if (end == 0) return size >= kTunnelReplyLimit ? kTunnelRefused : kTunnelNeedMore;
    if (end != size) return kTunnelRefused;
    // "HTTP/1.x NNN", the code three digits and followed by a blank or the line's end.
    if (size < 12 || memcmp(bytes, "HTTP/1.", 7) != 0 || bytes[7] < '0' || bytes[7] > '9' ||
        bytes[8] != ' ')
        return kTunnelRefused;
    int code = 0;
    for (int i = 9; i < 12; ++i) {
        if (bytes[i] < '0' || bytes[i] > '9') return kTunnelRefused;
        code = code * 10 + (bytes[i] - '0');
    }
    char after = size > 12 ? bytes[12] : '\0';
    if (after != ' ' && after != '\r' && after != '\n') return kTunnelRefused;
    return code >= kFirstSuccess && code <= kLastSuccess ? kTunnelOpen : kTunnelRefused;
}
