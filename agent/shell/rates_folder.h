// Where the user's rates file lives: a folder of the user's own, so that no other user can read,
// plant or take the file.
#pragma once

// The user's local application-data folder with "\Zelvantic", made when missing; the agent
// folder itself where the system keeps no such folder per user (Windows 9x). A heap path text
// (agent/path/path_text.h) without a final separator, or null when the folder can be neither found
// nor made (a file in its place, a path too long).
char* MakeRatesFolder(const char* agentFolder);
