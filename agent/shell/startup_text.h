// Start-up's text rules, apart from the Win32 calls so that they are tested natively.
#pragma once

// True when the command line is "-silent" in any letter case, with nothing around it.
bool IsSilentCommandLine(const char* commandLine);

// Cuts a program path to its folder in place: "C:\Dir\agent.exe" gives "C:\Dir", "C:\agent.exe"
// gives "C:", a name without any separator gives "\".
void CutToFolder(char* path);
