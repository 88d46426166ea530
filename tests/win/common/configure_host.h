// The HotSync Manager stand-in with the conduit's settings dialog open, driven from outside.
#pragma once
#include <windows.h>

#include <functional>
#include <string>

// Points the Conduit Manager stand-in's "ZLVA" entry at conduitFolder\conduit.dll, runs
// hostFolder\hotsync.exe --configure, calls act with the dialog once it is up, cancels the dialog
// and waits for the host to end. This thread's windows keep answering meanwhile (the dialog may
// send to them). Empty when all went so, else what went wrong.
std::string RunConfigureHost(const std::string& hostFolder, const std::string& conduitFolder,
                             const std::function<void(HWND dialog)>& act);
