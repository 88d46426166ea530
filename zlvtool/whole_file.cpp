#include "zlvtool/whole_file.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace {

// mkstemp's six random letters after the final name and a dot: in the destination's own folder,
// so the rename stays on one file system.
const char kBesideTemplate[] = ".XXXXXX";

// What open(..., 0666) would leave after the umask. mkstemp itself gives 0600 whatever the user
// asked for, which would hide the file from the group it is fetched for.
mode_t UmaskedMode() {
    mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

bool WriteAll(int fd, const void* data, size_t size) {
    const char* bytes = static_cast<const char*>(data);
    size_t done = 0;
    while (done < size) {
        ssize_t n = write(fd, bytes + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n == 0) errno = EIO;
        if (n <= 0) return false;
        done += size_t(n);
    }
    return true;
}

// A new file beside path, made by this call alone: mkstemp creates it exclusively, so whatever
// stands under a name already (another user's file or link in a shared folder) is never opened,
// followed or truncated; another name is drawn instead. Its name goes into beside.
bool WriteBeside(const char* path, const WholeFile& file, mode_t mode, std::string* beside) {
    std::string name = std::string(path) + kBesideTemplate;
    int fd = mkstemp(&name[0]);
    if (fd < 0) return false;
    *beside = name;
    // Flushed before the rename, so that the name never stands for a file still in the cache.
    bool ok = fchmod(fd, mode) == 0 && WriteAll(fd, file.data, file.size) && fsync(fd) == 0;
    int error = errno;
    if (close(fd) != 0 && ok) return false;
    errno = error;
    return ok;
}

} // namespace

const char* WriteWholeFiles(const WholeFile* files, size_t count) {
    const mode_t mode = UmaskedMode();
    std::vector<std::string> beside(count);
    const char* failed = nullptr;
    for (size_t i = 0; i < count && !failed; ++i)
        if (!WriteBeside(files[i].path, files[i], mode, &beside[i])) failed = files[i].path;
    size_t renamed = 0;
    while (!failed && renamed < count) {
        if (rename(beside[renamed].c_str(), files[renamed].path) != 0)
            failed = files[renamed].path;
        else
            ++renamed;
    }
    if (failed) {
        int error = errno;
        // Only the names this call made and still holds: a renamed one may be another's by now,
        // and a name never drawn stays empty.
        for (size_t i = renamed; i < count; ++i)
            if (!beside[i].empty()) unlink(beside[i].c_str());
        errno = error;
    }
    return failed;
}
