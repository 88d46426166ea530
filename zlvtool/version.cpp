#include <stdio.h>

#include "zlvtool/commands.h"

int VersionCommand(int, char**) {
    puts("zlvtool 1.5");
    return 0;
}
