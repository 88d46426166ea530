#include "tests/win/common/configure_host.h"

#include <vector>

namespace {

const char kConduitEntry[] = "Software\\ZelvanticPalmSim\\ConduitManager\\ZLVA";
const int kPolls = 500; // of 20 ms each: ten seconds for each step at the most

void SetEntry(const char* name, const std::string& text) {
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, kConduitEntry, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        &key, nullptr) != ERROR_SUCCESS)
        return;
    RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                   static_cast<DWORD>(text.size() + 1));
    RegCloseKey(key);
}

// Waits up to ms for the process (or only for messages when process is null), answering this
// thread's windows; true when the process ended.
bool PumpFor(HANDLE process, DWORD ms) {
    DWORD result = MsgWaitForMultipleObjects(process ? 1 : 0, &process, FALSE, ms, QS_ALLINPUT);
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageA(&msg);
    return process && result == WAIT_OBJECT_0;
}

} // namespace

std::string RunConfigureHost(const std::string& hostFolder, const std::string& conduitFolder,
                             const std::function<void(HWND dialog)>& act) {
    SetEntry("Folder", conduitFolder);
    SetEntry("File", "conduit.dll");
    std::string line = "\"" + hostFolder + "\\hotsync.exe\" --configure";
    std::vector<char> mutableLine(line.begin(), line.end());
    mutableLine.push_back('\0');
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessA(nullptr, mutableLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        hostFolder.c_str(), &si, &pi)) {
        RegDeleteKeyA(HKEY_CURRENT_USER, kConduitEntry);
        return "cannot start " + line;
    }
    HWND dialog = nullptr;
    for (int i = 0; i < kPolls && !dialog; ++i) {
        PumpFor(nullptr, 20);
        HWND found = FindWindowA("#32770", "Zelvantic"); // captioned by the conduit once it is up
        DWORD owner = 0;
        if (found) GetWindowThreadProcessId(found, &owner);
        if (owner == pi.dwProcessId) dialog = found;
    }
    if (dialog) {
        act(dialog);
        PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    }
    bool ended = false;
    for (int i = 0; i < kPolls && !ended; ++i)
        ended = PumpFor(pi.hProcess, 20);
    if (!ended) TerminateProcess(pi.hProcess, 1);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    RegDeleteKeyA(HKEY_CURRENT_USER, kConduitEntry);
    if (!dialog) return "the conduit's settings dialog did not open";
    return ended ? "" : "the HotSync Manager stand-in did not end";
}
