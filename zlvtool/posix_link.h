// zlvtool fetch's connection: POSIX sockets, each wait as long as the fetch asks and no longer.
#pragma once
#include "zlvtool/fetch_reply.h"

struct PosixLink {
    PosixLink() = default;
    ~PosixLink();
    PosixLink(const PosixLink&) = delete;
    PosixLink& operator=(const PosixLink&) = delete;

    FetchLink Link();

    int fd = -1;
};
