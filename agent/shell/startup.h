// The agent's entry and its clean-up; WinMain only forwards here.
#pragma once
#include <windows.h>

int AgentMain(HINSTANCE instance, const char* commandLine);
