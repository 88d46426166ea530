// Files and folders the Win32 tests set up and read back.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

typedef std::vector<unsigned char> Bytes;

// Paths in the tests are UTF-8 and reach the system through its wide calls, so that a profile or
// folder named outside the ANSI code page is used as it is. The system's own conversions.
std::wstring Wide(const std::string& utf8);
std::string Utf8(const std::wstring& wide);

// build/win (or build/win64): the product and the stand-ins, one folder above the test program.
std::string BuildFolder();
// build/win, the shipped 32-bit build, whose files the checks that only read them open as data:
// on every machine, also from the 64-bit test build.
std::string ShippedFolder();

// The user's own rates folder, where the agent keeps "mrvrates.zlv" and "target" points: the
// local application-data folder as the system names it, with "\Zelvantic".
std::string UserRatesFolder();

bool ReadBytes(const std::string& path, Bytes* bytes);
bool WriteBytes(const std::string& path, const Bytes& bytes);
// The lines of a text file, without their CR LF or LF; none when it cannot be read.
std::vector<std::string> ReadLines(const std::string& path);
bool FileExists(const std::string& path); // folders count too
void RemoveTree(const std::string& path);

// A rates file as the agent writes it: magic, padding, time, then the body.
Bytes RatesFileFor(const Bytes& body);

// A fresh folder under the temporary folder, removed with everything in it.
struct TempFolder {
    explicit TempFolder(const char* tag);
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    std::string Path(const std::string& name) const { return path + "\\" + name; }
    std::string path;
};

// Sets an environment variable for this process and its children (empty: unset) until it goes
// out of scope; the old value comes back.
struct ScopedEnv {
    ScopedEnv(const char* name, const std::string& value);
    ~ScopedEnv();
    std::string name, old;
    bool had;
};
