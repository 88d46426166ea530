// The rates folder start-up makes: the user's own where the system keeps one per user, the agent
// folder where it keeps none (Windows 9x, whose shell32 lacks SHGetFolderPathA), never a file.
#include <gtest/gtest.h>

#include <stdlib.h>

#include "agent/shell/rates_folder.h"
#include "tests/win/common/file_helpers.h"
#include "tests/win/common/import_hook.h"

namespace {

typedef FARPROC(WINAPI* GetProcAddressFn)(HMODULE, LPCSTR);
ImportHook* g_lookup;

// A shell32 without the per-user folder call, as on Windows 95 and 98.
FARPROC WINAPI WithoutGetFolderPath(HMODULE module, LPCSTR name) {
    if (HIWORD(reinterpret_cast<UINT_PTR>(name)) && lstrcmpA(name, "SHGetFolderPathA") == 0)
        return nullptr;
    return g_lookup->Real<GetProcAddressFn>()(module, name);
}

std::string Made(const char* agentFolder) {
    char* folder = MakeRatesFolder(agentFolder);
    std::string text = folder ? folder : "<none>";
    free(folder);
    return text;
}

bool IsFolder(const std::string& path) {
    DWORD a = GetFileAttributesA(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

TEST(RatesFolder, TheUsersOwnMadeWhenMissingAndTheAgentFolderWithoutOne) {
    const std::string own = UserRatesFolder();
    ASSERT_FALSE(own.empty());
    RemoveTree(own);
    EXPECT_EQ(own, Made("C:\\Program Files\\Zelvantic"));
    EXPECT_TRUE(IsFolder(own));
    EXPECT_EQ(own, Made("C:\\Program Files\\Zelvantic")) << "a folder that is there is fine";

    {
        ImportHook hook("kernel32.dll", "GetProcAddress",
                        reinterpret_cast<void*>(WithoutGetFolderPath));
        ASSERT_TRUE(hook.Active());
        g_lookup = &hook;
        EXPECT_EQ("C:\\Program Files\\Zelvantic", Made("C:\\Program Files\\Zelvantic"));
        g_lookup = nullptr;
    }

    // A file where the folder belongs is not the agent's: no folder, and the file as it was.
    RemoveTree(own);
    const Bytes kept = {'m', 'i', 'n', 'e'};
    ASSERT_TRUE(WriteBytes(own, kept));
    EXPECT_EQ("<none>", Made("C:\\Program Files\\Zelvantic"));
    Bytes left;
    EXPECT_TRUE(ReadBytes(own, &left));
    EXPECT_EQ(kept, left);
    DeleteFileA(own.c_str());
}

} // namespace
