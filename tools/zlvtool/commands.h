// Each command takes the arguments after its name and returns the exit code.
#pragma once
#define ZLV_COMMAND(name, fn, usage) int fn(int argc, char** argv);
#include "tools/zlvtool/command_list.h"
#undef ZLV_COMMAND
