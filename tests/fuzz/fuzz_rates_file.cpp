// Any bytes as a rates file: the reader that zlvtool dump uses, and what the dump prints, against
// the file's layout read here on its own. The conduit's header check lives beside Win32 calls and
// cannot be built here; its rule is written out below and must agree with the reader's.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "agent/update/rates_format.h"
#include "zlvtool/commands.h"

namespace {

void Check(bool ok) {
    if (!ok) abort();
}

char g_path[] = "/dev/shm/zlv-fuzz-rates-XXXXXX"; // memory-backed: a file per run
char g_out[] = "/dev/shm/zlv-fuzz-dump-XXXXXX";
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
    unlink(g_out);
}

// Sound by the layout: the header, four digits and a zero, at most a full record after the
// header, and a zero byte for every counted line.
bool ReferenceSound(const uint8_t* data, size_t size, unsigned* count) {
    if (size < 17 || !ConduitTakesHeader(data, size) || size - 12 > 65535) return false;
    *count = 0;
    for (int i = 12; i < 16; ++i) {
        if (data[i] < '0' || data[i] > '9') return false;
        *count = *count * 10 + (data[i] - '0');
    }
    if (data[16] != 0) return false;
    unsigned zeros = 0;
    for (size_t i = 17; i < size; ++i)
        zeros += data[i] == 0;
    return zeros >= *count;
}

std::string ReadOut() {
    std::string text;
    FILE* f = fopen(g_out, "rb");
    if (!f) return text;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, f)) > 0)
        text.append(buffer, n);
    fclose(f);
    return text;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    int fd = mkstemp(g_path);
    if (fd < 0) abort();
    close(fd);
    fd = mkstemp(g_out);
    if (fd < 0) abort();
    close(fd);
    atexit(RemoveTemp);
    // The dump prints every line it finds and complains about damage; only its verdict matters.
    // The sanitizers and the fuzzer keep writing to the real standard error.
    g_null = fopen("/dev/null", "w");
    if (!g_null) abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > kRatesHeaderSize + kRatesBodyLimit + 2048) return 0;
    uint8_t* exact = static_cast<uint8_t*>(malloc(size ? size : 1));
    if (size) memcpy(exact, data, size);

    RatesFileView view;
    const char* problem = CheckRatesFile(exact, size, &view);
    if (size >= 6) Check(RatesMagicOk(exact, size) == ConduitTakesHeader(data, size));
    if (size >= 12) Check(view.magicOk == ConduitTakesHeader(data, size));
    if (view.lines) {
        Check(view.lines >= exact && view.lines + view.linesSize == exact + size);
    } else {
        Check(view.linesSize == 0);
    }
    unsigned count = 0;
    bool sound = ReferenceSound(data, size, &count);
    Check(sound == (problem == nullptr));
    if (sound) Check(view.count == count && view.linesSize == size - 17);
    free(exact);

    FILE* f = fopen(g_path, "wb");
    Check(f && fwrite(data, 1, size, f) == size && fclose(f) == 0);
    char* argv[] = {g_path, nullptr};
    FILE* err = stderr;
    stderr = g_null;
    if (!freopen(g_out, "w", stdout)) abort();
    int code = DumpCommand(1, argv);
    fflush(stdout);
    stderr = err;
    Check(code == (sound ? 0 : 1));
    if (sound) {
        std::string out = ReadOut();
        char line[64];
        snprintf(line, sizeof line, "count: %04u\n", count);
        Check(out.find(line) != std::string::npos);
        snprintf(line, sizeof line, "rates body: %zu bytes\n", size - 12);
        Check(out.find(line) != std::string::npos);
    }
    return 0;
}
