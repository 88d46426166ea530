// zlvtool fetch: the rates page from the update server straight into the handheld database, for
// handhelds that never see a HotSync Manager. One attempt, as the agent makes it; cron retries.
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

#include <string>
#include <vector>

#include "agent/update/rates_format.h"
#include "agent/update/update_address.h"
#include "agent_config.h"
#include "zlvtool/commands.h"
#include "zlvtool/fetch_reply.h"
#include "zlvtool/posix_link.h"
#include "zlvtool/rates_pdb.h"
#include "zlvtool/whole_file.h"

namespace {

const char kDefaultOut[] = "ZLV Currencies.pdb";
enum { kLineSize = 512 };

int Usage(const char* why) {
    fprintf(stderr, "zlvtool fetch: %s\n", why);
    fprintf(stderr, "usage: zlvtool fetch [--url ADDRESS] [--out FILE.pdb] [--rates FILE]\n");
    return kFetchUsage;
}

} // namespace

void PrintFetchNotes(FILE* to) {
    fprintf(to, "zlvtool fetch: ADDRESS is the build's update server, %s, unless given;\n",
            ZLV_UPDATE_URL_TEXT);
    fprintf(to, "  it speaks http only, directly: an https address is refused;\n");
    fprintf(to, "  FILE.pdb is \"%s\" unless given; exit codes:\n", kDefaultOut);
    for (size_t i = 0; i < kFetchExitCount; ++i)
        fprintf(to, "    %d  %s\n", kFetchExitMeanings[i].code, kFetchExitMeanings[i].meaning);
}

int FetchCommand(int argc, char** argv) {
    const char* url = ZLV_UPDATE_URL_TEXT;
    const char* out = kDefaultOut;
    const char* rates = nullptr;
    for (int i = 0; i < argc; ++i) {
        const char** value = strcmp(argv[i], "--url") == 0     ? &url
                             : strcmp(argv[i], "--out") == 0   ? &out
                             : strcmp(argv[i], "--rates") == 0 ? &rates
                                                               : nullptr;
        if (!value) return Usage("unknown argument");
        if (i + 1 >= argc || !*argv[i + 1]) return Usage("an option without its value");
        *value = argv[++i];
    }
    UpdateAddress address;
    if (!ParseUpdateAddress(url, &address))
        return Usage("--url needs an http:// address: host, optional :port, path; at most 160 "
                     "characters, no blanks");
    // A tool of its own for the few who run it by hand; the agent is what speaks TLS.
    if (address.https) return Usage("https addresses are not supported here: give an http:// one");
    if (rates && strcmp(rates, out) == 0) return Usage("--out and --rates name the same file");

    PosixLink posix;
    ReplyReader reader;
    FetchOutcome outcome = FetchPage(posix.Link(), address, &reader);
    char line[kLineSize];
    if (outcome.exit != kFetchOk) {
        DescribeFetch(outcome, reader, address, line, sizeof line);
        fprintf(stderr, "zlvtool fetch: %s\n", line);
        return outcome.exit;
    }

    // The rates file the agent would write now, and the database a HotSync would make of it.
    RatesImage image;
    RatesResult built =
        BuildRatesImage(reader.body, reader.bodySize, static_cast<int32_t>(time(nullptr)), &image);
    if (built != kRatesOk) {
        fprintf(stderr, "zlvtool fetch: %s: no page: %s\n", address.host, RatesResultText(built));
        return kFetchNoPage;
    }
    std::vector<uint8_t> pdb;
    std::string problem;
    bool made = MakeRatesPdb(image.bytes, image.size, &pdb, &problem);
    const WholeFile files[] = {{out, pdb.data(), pdb.size()}, {rates, image.bytes, image.size}};
    const char* failed = made ? WriteWholeFiles(files, rates ? 2 : 1) : out;
    if (failed) {
        fprintf(stderr, "zlvtool fetch: cannot write %s: %s\n", failed,
                made ? strerror(errno) : problem.c_str());
        FreeRatesImage(&image);
        return kFetchCannotWrite;
    }
    printf("%s: \"ZLV Currencies\", one record of %zu bytes\n", out, image.size - kRatesHeaderSize);
    if (rates) printf("%s: %u lines, %zu bytes\n", rates, image.lines, image.size);
    FreeRatesImage(&image);
    return kFetchOk;
}
