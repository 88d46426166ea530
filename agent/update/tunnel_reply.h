// The proxy's answer to CONNECT, judged as a whole once it has come: the tunnel stands only on a
// 2xx status line with its head ended by a blank line, and nothing after it, since the server
// has not been spoken to yet.
#pragma once
#include <stddef.h>

enum { kTunnelReplyLimit = 16 * 1024 };

enum TunnelVerdict { kTunnelNeedMore, kTunnelOpen, kTunnelRefused };

TunnelVerdict JudgeTunnelReply(const char* bytes, size_t size);
