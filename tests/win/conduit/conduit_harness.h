// What the conduit tests share: throw-away folders, files, settings, the environment switches of
// the Palm stand-ins, and a HotSync run through the stand-in host.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

typedef std::vector<unsigned char> Bytes;

// build/win: the product and the stand-ins, one folder above the test program.
std::string BuildFolder();

// A fresh folder under the temporary folder, removed with everything in it.
struct TempFolder {
    explicit TempFolder(const char* tag);
    ~TempFolder();
    std::string Path(const std::string& name) const { return path + "\\" + name; }
    std::string path;
};
void RemoveTree(const std::string& path);

bool WriteFileBytes(const std::string& path, const Bytes& bytes);
bool ReadFileBytes(const std::string& path, Bytes* bytes);
bool FileExists(const std::string& path);
std::vector<std::string> ReadLines(const std::string& path);

// The rates file as the agent writes it: magic, padding, time, then the body.
Bytes RatesFile(const Bytes& body);
Bytes RatesBody(size_t length); // a count field and tab-free rate lines, cut to the length

// Sets an environment variable for this process and its children; the old value comes back.
struct ScopedEnv {
    ScopedEnv(const char* name, const std::string& value);
    ~ScopedEnv();
    std::string name, old;
    bool had;
};

// The settings key: "target" written as the agent does (no terminator), "hwnd" as a DWORD.
void SetTarget(const std::string& folder);
void SetAgentWindow(HWND window);
void DeleteSetting(const char* name);

// Puts a settings value back as it was (or absent) when the holder goes.
struct SavedSetting {
    explicit SavedSetting(const char* name);
    ~SavedSetting();
    std::string name;
    bool had;
    DWORD type;
    Bytes data;
};

struct HotSyncRun {
    DWORD exitCode;
    std::vector<std::string> lines; // the progress texts, in order
};
// Runs build/win/hotsync.exe with the arguments and pumps this thread's messages meanwhile, so
// a window of this thread can take the conduit's sent message.
HotSyncRun RunHotSync(const std::string& arguments = "");
