// art_logo OUTDIR: writes the About box logo, logo141.gif.
#include <stdio.h>

#include <string>

#include "tools/art/logo/logo.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: art_logo OUTDIR\n");
        return 2;
    }
    std::vector<uint8_t> gif = BuildLogoGif();
    std::string path = std::string(argv[1]) + "/logo141.gif";
    std::string temporary = path + ".tmp";
    FILE* f = fopen(temporary.c_str(), "wb");
    if (!f) {
        perror(temporary.c_str());
        return 1;
    }
    bool written = fwrite(gif.data(), 1, gif.size(), f) == gif.size();
    written = fclose(f) == 0 && written;
    // Replaced whole or not at all, so a failed run never leaves half a logo behind.
    if (!written || rename(temporary.c_str(), path.c_str()) != 0) {
        perror(path.c_str());
        remove(temporary.c_str());
        return 1;
    }
    return 0;
}
