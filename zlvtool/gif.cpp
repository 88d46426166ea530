// zlvtool gif FILE: what the logo control would make of a picture file.
#include <stdio.h>

#include <vector>

#include "agent/gif/gif_scanner.h"
#include "zlvtool/commands.h"

namespace {

bool ReadWhole(const char* path, std::vector<uint8_t>* bytes) {
    FILE* f = fopen(path, "rb");
    if (!f) return false;
    uint8_t chunk[65536];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, f)) > 0)
        bytes->insert(bytes->end(), chunk, chunk + n);
    bool ok = !ferror(f);
    fclose(f);
    return ok;
}

} // namespace

int GifCommand(int argc, char** argv) {
    if (argc != 1) {
        fprintf(stderr, "usage: zlvtool gif FILE\n");
        return 2;
    }
    std::vector<uint8_t> bytes;
    if (!ReadWhole(argv[0], &bytes)) {
        perror(argv[0]);
        return 1;
    }
    GifScanner scanner;
    int count;
    GifPath path = ChooseGifPath(&scanner, bytes.data(), (uint32_t)bytes.size(), &count);
    if (path != GifPathNotGif) {
        printf("%-5s %5s %5s %5s %6s %5s %8s %7s\n", "frame", "left", "top", "width", "height",
               "delay", "disposal", "stream");
        GifFrameRange f;
        for (int i = 0; scanner.ExtractFrame(&f); ++i)
            printf("%5d %5d %5d %5d %6d %5d %8d %7u\n", i, f.left, f.top, f.width, f.height,
                   f.delay, f.disposal, scanner.FrameStreamLength(f));
    }
    printf("path: %s", GifPathName(path));
    if (path != GifPathNotGif) printf(", %dx%d", scanner.width, scanner.height);
    if (path == GifPathOneFrame || path == GifPathNotGif)
        printf(", %zu bytes loaded whole", bytes.size());
    printf("\n");
    return path == GifPathNoFrame ? 1 : 0;
}
