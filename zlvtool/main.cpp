// zlvtool: a support tool for the rates file, the handheld database and the logo.
#include <stdio.h>
#include <string.h>

#include "zlvtool/commands.h"

namespace {

struct Command {
    const char* name;
    int (*run)(int argc, char** argv);
    const char* usage;
};

const Command kCommands[] = {
#define ZLV_COMMAND(name, fn, usage) {name, fn, usage},
#include "zlvtool/command_list.h"
#undef ZLV_COMMAND
};

int Usage() {
    fprintf(stderr, "usage:\n");
    for (const Command& c : kCommands)
        fprintf(stderr, "  zlvtool %s\n", c.usage);
    PrintFetchNotes(stderr);
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) return Usage();
    for (const Command& c : kCommands)
        if (strcmp(argv[1], c.name) == 0) return c.run(argc - 2, argv + 2);
    fprintf(stderr, "zlvtool: unknown command '%s'\n", argv[1]);
    return Usage();
}
