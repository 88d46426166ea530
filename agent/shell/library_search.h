// Where the agent's process looks for libraries. The agent runs as every user who logs on;
// Windows' own libraries load others by bare name inside it, and a bare name is looked for
// beside agent.exe and in the working folder before the system folder.
#pragma once
#include <windows.h>

// Narrows the search for every library loaded by bare name to the system folder where Windows
// allows it (SetDefaultDllDirectories: Windows 8, and 7 or Vista with KB2533623), else takes the
// working folder out of it (SetDllDirectory: XP SP1 on). Called first thing at start.
void NarrowLibrarySearch();

// LoadLibraryEx's flags for a library named by its full path: what it needs comes from its own
// folder and the system folder, never from the agent's or the working folder.
DWORD FullPathLoadFlags();
