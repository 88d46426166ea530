#include "tools/zlvtool/whole_file.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace {

const char kBesideSuffix[] = ".part";

bool WriteBeside(const std::string& path, const void* data, size_t size) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    const char* bytes = static_cast<const char*>(data);
    size_t done = 0;
    while (done < size) {
        ssize_t n = write(fd, bytes + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n == 0) errno = EIO;
        if (n <= 0) break;
        done += size_t(n);
    }
    // Flushed before the rename, so that the name never stands for a file still in the cache.
    bool ok = done == size && fsync(fd) == 0;
    int error = errno;
    if (close(fd) != 0 && ok) return false;
    errno = error;
    return ok;
}

} // namespace

const char* WriteWholeFiles(const WholeFile* files, size_t count) {
    std::vector<std::string> beside;
    const char* failed = nullptr;
    for (size_t i = 0; i < count && !failed; ++i) {
        beside.push_back(std::string(files[i].path) + kBesideSuffix);
        if (!WriteBeside(beside.back(), files[i].data, files[i].size)) failed = files[i].path;
    }
    for (size_t i = 0; i < count && !failed; ++i)
        if (rename(beside[i].c_str(), files[i].path) != 0) failed = files[i].path;
    if (failed) {
        int error = errno;
        for (const std::string& path : beside)
            unlink(path.c_str());
        errno = error;
    }
    return failed;
}
