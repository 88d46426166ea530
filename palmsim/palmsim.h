// Helpers shared by the Palm stand-ins: environment switches for tests, a call log, and where the
// Conduit Manager stand-in keeps its entries. Never part of the product.
#pragma once
#include <windows.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

namespace palmsim {

// HKEY_CURRENT_USER\<this>\<creator>: values "Conduit", "Folder", "File", "Type".
#define PALMSIM_CONDUITS_KEY "Software\\ZelvanticPalmSim\\ConduitManager"

// The Win32 environment, not the C runtime's copy: tests change it with SetEnvironmentVariable.
inline std::string Env(const char* name) {
    char buffer[1024];
    DWORD n = GetEnvironmentVariableA(name, buffer, sizeof(buffer));
    if (n == 0 || n >= sizeof(buffer)) return std::string();
    return std::string(buffer, n);
}

// A list such as "open=0x4005,32=7": the call named by its role or its ordinal fails with that
// code. True when this call is to fail.
inline bool InjectedFault(const char* variable, const char* role, int ordinal, long* code) {
    std::string list = Env(variable);
    size_t pos = 0;
    while (pos < list.size()) {
        size_t end = list.find(',', pos);
        if (end == std::string::npos) end = list.size();
        std::string item = list.substr(pos, end - pos);
        pos = end + 1;
        size_t eq = item.find('=');
        if (eq == std::string::npos) continue;
        std::string name = item.substr(0, eq);
        bool match =
            (role && name == role) || (ordinal > 0 && atoi(name.c_str()) == ordinal &&
                                       name.find_first_not_of("0123456789") == std::string::npos);
        if (match) {
            *code = strtol(item.c_str() + eq + 1, nullptr, 0);
            return true;
        }
    }
    return false;
}

// Appends one line to the file named by the variable, when it is set.
inline void Log(const char* variable, const char* format, ...) {
    std::string path = Env(variable);
    if (path.empty()) return;
    FILE* f = fopen(path.c_str(), "a");
    if (!f) return;
    va_list args;
    va_start(args, format);
    vfprintf(f, format, args);
    va_end(args);
    fputc('\n', f);
    fclose(f);
}

} // namespace palmsim
