// Makes sure the Conduit Manager knows conduit.dll beside the agent under the creator "ZLVA".
#pragma once
#include <windows.h>

// 0 after a complete registration, 1 when nothing was done (entry in place, no conduit.dll beside
// the agent, a folder that has no form in the ANSI code page, or no Conduit Manager where the
// user's Palm Desktop keeps it), else the status of the first failing call. The folder is path
// text (agent/path/path_text.h).
DWORD RegisterConduit(const char* agentFolder);
