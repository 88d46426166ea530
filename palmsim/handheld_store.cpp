#include "palmsim/handheld_store.h"

#include "palmsim/palmsim.h"

namespace palmsim {

namespace {

bool ReadWhole(const std::string& path, std::vector<uint8_t>* bytes) {
    HANDLE f = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                           nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    DWORD size = GetFileSize(f, nullptr);
    bool ok = size != INVALID_FILE_SIZE;
    if (ok) {
        bytes->resize(size);
        DWORD got = 0;
        ok = size == 0 || (ReadFile(f, bytes->data(), size, &got, nullptr) && got == size);
    }
    CloseHandle(f);
    return ok;
}

} // namespace

std::string HandheldFolder(HMODULE standIn) {
    std::string dir = Env("ZLV_HANDHELD_DIR");
    if (dir.empty()) {
        char path[MAX_PATH];
        DWORD n = GetModuleFileNameA(standIn, path, sizeof(path));
        std::string self(path, n);
        dir = self.substr(0, self.find_last_of('\\') + 1) + "handheld";
    }
    CreateDirectoryA(dir.c_str(), nullptr);
    return dir;
}

std::vector<StoredDatabase> StoredDatabases(HMODULE standIn) {
    std::vector<StoredDatabase> all;
    std::string dir = HandheldFolder(standIn);
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((dir + "\\*.pdb").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return all;
    do {
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        StoredDatabase f;
        f.path = dir + "\\" + fd.cFileName;
        std::vector<uint8_t> bytes;
        std::string error;
        if (!ReadWhole(f.path, &bytes)) continue;
        if (!pdb::ParseHeader(bytes.data(), bytes.size(), &f.db, &error)) continue;
        f.intact = pdb::Parse(bytes.data(), bytes.size(), &f.db, &error);
        all.push_back(f);
    } while (FindNextFileA(h, &fd));
    FindClose(h);
    return all;
}

bool SaveDatabase(const std::string& path, const pdb::Database& db) {
    std::vector<uint8_t> bytes = pdb::Serialize(db);
    std::string temp = path + ".tmp";
    HANDLE f = CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    DWORD wrote = 0;
    bool ok =
        WriteFile(f, bytes.data(), DWORD(bytes.size()), &wrote, nullptr) && wrote == bytes.size();
    CloseHandle(f);
    if (ok) ok = MoveFileExA(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
    if (!ok) DeleteFileA(temp.c_str());
    return ok;
}

std::string PathForNew(HMODULE standIn, const std::string& name) {
    std::string file = name;
    for (char& c : file)
        if (strchr("\\/:*?\"<>|", c) || c < ' ') c = '_';
    return HandheldFolder(standIn) + "\\" + file + ".pdb";
}

} // namespace palmsim
