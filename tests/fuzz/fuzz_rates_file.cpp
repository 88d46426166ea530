// Any bytes as a rates file: the reader that zlvtool dump uses, and the dump itself. The conduit's
// own header check lives beside Win32 calls and cannot be built here; its rule is restated below
// and must never take a file that the reader calls damaged in its header.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "agent/update/rates_format.h"
#include "tools/zlvtool/commands.h"

namespace {

void Check(bool ok) {
    if (!ok) abort();
}

char g_path[] = "/dev/shm/zlv-fuzz-rates-XXXXXX"; // memory-backed: a file per run
FILE* g_null;

bool SameLetter(uint8_t c, char lower) {
    return c == lower || c == lower - 'a' + 'A';
}

// The conduit reads up to 12 bytes into a zeroed header and compares "kelpo" as a text.
bool ConduitTakesHeader(const uint8_t* data, size_t size) {
    uint8_t header[12] = {0};
    memcpy(header, data, size < 12 ? size : 12);
    if (size == 0) return false;
    for (int i = 0; i < 5; ++i)
        if (!SameLetter(header[i], "kelpo"[i])) return false;
    return header[5] == 0;
}

void RemoveTemp() {
    unlink(g_path);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    int fd = mkstemp(g_path);
    if (fd < 0) abort();
    close(fd);
    atexit(RemoveTemp);
    // The dump prints every line it finds and complains about damage; only its verdict matters.
    // The sanitizers and the fuzzer keep writing to the real standard error.
    g_null = fopen("/dev/null", "w");
    if (!g_null || !freopen("/dev/null", "w", stdout)) abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > kRatesHeaderSize + kRatesBodyLimit + 2048) return 0;
    uint8_t* exact = static_cast<uint8_t*>(malloc(size ? size : 1));
    if (size) memcpy(exact, data, size);

    RatesFileView view;
    const char* problem = CheckRatesFile(exact, size, &view);
    if (size >= 6) Check(RatesMagicOk(exact, size) == ConduitTakesHeader(data, size));
    if (size >= kRatesHeaderSize) Check(view.magicOk == ConduitTakesHeader(data, size));
    if (view.lines) {
        Check(view.lines >= exact && view.lines + view.linesSize == exact + size);
    } else {
        Check(view.linesSize == 0);
    }
    if (!problem) {
        Check(size >= kRatesHeaderSize + kRatesCountSize);
        Check(size - kRatesHeaderSize <= kRatesBodyLimit);
        Check(ConduitTakesHeader(data, size));
        Check(view.count <= kRatesLineLimit);
        size_t zeros = 0;
        for (size_t i = kRatesHeaderSize + kRatesCountSize; i < size; ++i)
            zeros += data[i] == 0;
        Check(zeros >= view.count);
    }
    free(exact);

    FILE* f = fopen(g_path, "wb");
    Check(f && fwrite(data, 1, size, f) == size && fclose(f) == 0);
    char* argv[] = {g_path, nullptr};
    FILE* err = stderr;
    stderr = g_null;
    int code = DumpCommand(1, argv);
    stderr = err;
    Check(code == (problem ? 1 : 0));
    return 0;
}
