#include <windows.h>

#include "agent/shell/startup.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
    return AgentMain(instance, commandLine);
}
