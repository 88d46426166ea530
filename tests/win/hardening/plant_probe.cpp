// What a program that is careless with libraries would load: this one imports msimg32.dll, as
// agent.exe once did, and loads each library named on its command line by bare name.
//   plant_probe [NAME.dll ...]     exit code: how many of the names did not load
#include <windows.h>

#include <stdio.h>

int main(int argc, char** argv) {
    // Never called (there is never a thousand arguments), but it keeps the import in the table.
    if (argc > 1000) TransparentBlt(nullptr, 0, 0, 1, 1, nullptr, 0, 0, 1, 1, 0);
    int missing = 0;
    for (int i = 1; i < argc; ++i) {
        HMODULE module = LoadLibraryA(argv[i]);
        char path[MAX_PATH] = "(not loaded)";
        if (module) GetModuleFileNameA(module, path, sizeof path);
        printf("%s: %s\n", argv[i], path);
        missing += module == nullptr;
    }
    return missing;
}
