#include <windows.h>

#include "agent/shell/library_search.h"
#include "agent/shell/startup.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
    NarrowLibrarySearch();
    return AgentMain(instance, commandLine);
}
