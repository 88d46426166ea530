// The agent's entry and its clean-up; WinMain only forwards here.
#pragma once
#include <windows.h>

int AgentMain(HINSTANCE instance, const char* commandLine);
// Gives back everything the agent state holds and clears each field: the end of a run, and of
// any host that fills the state itself.
void CleanUpAgent();
