// What this process holds, for leak checks. Wine answers GetGuiResources and
// GetProcessHandleCount with 0, so there the objects are counted one by one.
#pragma once
#include <windows.h>

DWORD HandleCount();
DWORD GdiObjectCount();
int ThreadCount();
SIZE_T PrivateKiB(); // committed private memory
