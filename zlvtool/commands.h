// Each command takes the arguments after its name and returns the exit code.
#pragma once
#include <stdio.h>

#define ZLV_COMMAND(name, fn, usage) int fn(int argc, char** argv);
#include "zlvtool/command_list.h"
#undef ZLV_COMMAND

// What the usage text says of fetch beyond its arguments: defaults and exit codes.
void PrintFetchNotes(FILE* to);
