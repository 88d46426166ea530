// zlvtool rates: the rates file the agent would write for a saved reply.
// zlvtool dump: what a rates file holds, and what is wrong with a damaged one.
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "agent/update/rates_format.h"
#include "zlvtool/commands.h"
#include "zlvtool/whole_file.h"

namespace {

struct FileBytes {
    uint8_t* data = nullptr;
    size_t size = 0;
    ~FileBytes() { free(data); }
};

// Reads at most `limit` bytes; a longer file is reported as such rather than read whole.
bool ReadFileBytes(const char* tool, const char* path, size_t limit, FileBytes* out) {
    FILE* f = fopen(path, "rb");
    if (!f) {
        fprintf(stderr, "zlvtool %s: cannot open %s: %s\n", tool, path, strerror(errno));
        return false;
    }
    out->data = static_cast<uint8_t*>(malloc(limit + 1));
    size_t n = out->data ? fread(out->data, 1, limit + 1, f) : 0;
    bool failed = !out->data || ferror(f);
    fclose(f);
    if (failed) {
        fprintf(stderr, "zlvtool %s: cannot read %s\n", tool, path);
        return false;
    }
    if (n > limit) {
        fprintf(stderr, "zlvtool %s: %s is larger than %zu bytes\n", tool, path, limit);
        return false;
    }
    out->size = n;
    return true;
}

bool ParseTime(const char* text, int32_t* time) {
    char* end = nullptr;
    errno = 0;
    long long v = strtoll(text, &end, 10);
    if (errno || end == text || *end || v < INT32_MIN || v > INT32_MAX) return false;
    *time = static_cast<int32_t>(v);
    return true;
}

void PrintText(const uint8_t* text, size_t length) {
    putchar('"');
    for (size_t i = 0; i < length; ++i) {
        uint8_t c = text[i];
        if (c == '"' || c == '\\')
            printf("\\%c", c);
        else if (c == '\r')
            fputs("\\r", stdout);
        else if (c < 0x20 || c >= 0x7F)
            printf("\\x%02X", c);
        else
            putchar(c);
    }
    putchar('"');
}

void PrintLines(const RatesFileView& view) {
    // Zero bytes end fields and lines alike; lines of equal field counts can be told apart.
    size_t texts = 0, end = 0;
    for (size_t i = 0; i < view.linesSize; ++i)
        if (view.lines[i] == 0) {
            ++texts;
            end = i + 1;
        }
    size_t perLine = view.count && texts % view.count == 0 ? texts / view.count : 0;
    if (!perLine && texts) printf("lines differ in field count; zero-terminated texts:\n");
    size_t start = 0, index = 0;
    for (size_t i = 0; i < end; ++i) {
        if (view.lines[i] != 0) continue;
        if (perLine) {
            if (index % perLine == 0) printf("%s%zu:", index ? "\n" : "", index / perLine + 1);
            putchar(' ');
        } else {
            printf("%zu: ", index + 1);
        }
        PrintText(view.lines + start, i - start);
        if (!perLine) putchar('\n');
        ++index;
        start = i + 1;
    }
    if (perLine && index) putchar('\n');
    if (end < view.linesSize) {
        printf("unterminated last line: ");
        PrintText(view.lines + end, view.linesSize - end);
        putchar('\n');
    }
}

} // namespace

int RatesCommand(int argc, char** argv) {
    const char* in = nullptr;
    const char* out = nullptr;
    int32_t time = static_cast<int32_t>(::time(nullptr));
    for (int i = 0; i < argc; ++i) {
        if (strcmp(argv[i], "--time") == 0) {
            if (i + 1 >= argc || !ParseTime(argv[i + 1], &time)) {
                fprintf(stderr, "zlvtool rates: --time needs seconds since 1970 (32-bit)\n");
                return 2;
            }
            ++i;
        } else if (!in) {
            in = argv[i];
        } else if (!out) {
            out = argv[i];
        } else {
            in = nullptr;
            break;
        }
    }
    if (!in || !out) {
        fprintf(stderr, "usage: zlvtool rates REPLY_FILE OUT_FILE [--time T]\n");
        return 2;
    }
    FileBytes reply;
    // A longer reply never gives a page.
    if (!ReadFileBytes("rates", in, kReplyLimit, &reply)) return 1;
    RatesImage image;
    RatesResult result =
        BuildRatesFile(reinterpret_cast<const char*>(reply.data), reply.size, time, &image);
    if (result != kRatesOk) {
        fprintf(stderr, "zlvtool rates: %s: no page: %s\n", in, RatesResultText(result));
        return 1;
    }
    WholeFile file = {out, image.bytes, image.size};
    if (WriteWholeFiles(&file, 1)) {
        fprintf(stderr, "zlvtool rates: cannot write %s: %s\n", out, strerror(errno));
        FreeRatesImage(&image);
        return 1;
    }
    printf("%s: %u lines, %zu bytes\n", out, image.lines, image.size);
    FreeRatesImage(&image);
    return 0;
}

int DumpCommand(int argc, char** argv) {
    if (argc != 1) {
        fprintf(stderr, "usage: zlvtool dump RATES_FILE\n");
        return 2;
    }
    FileBytes file;
    // Anything beyond a full handheld record is damaged anyway; read a little past it to say so.
    if (!ReadFileBytes("dump", argv[0], kRatesHeaderSize + kRatesBodyLimit + 1024, &file)) return 1;
    RatesFileView view;
    const char* problem = CheckRatesFile(file.data, file.size, &view);
    printf("file: %s, %zu bytes\n", argv[0], file.size);
    if (file.size >= kRatesHeaderSize) {
        printf("magic: %s\n", view.magicOk ? "ok" : "bad");
        time_t t = view.time;
        struct tm utc;
        char when[32] = "?";
        if (gmtime_r(&t, &utc)) strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S UTC", &utc);
        printf("time: %s (%ld)\n", when, static_cast<long>(view.time));
    }
    if (problem) {
        fprintf(stderr, "zlvtool dump: %s: damaged: %s\n", argv[0], problem);
        return 1;
    }
    printf("count: %04u\n", view.count);
    printf("rates body: %zu bytes\n", file.size - kRatesHeaderSize);
    PrintLines(view);
    return 0;
}
