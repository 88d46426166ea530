// art_conduit OUTDIR: writes the conduit's action bitmaps and dialog icon.
#include <stdio.h>

#include <string>
#include <vector>

#include "tools/art/common/image_files.h"
#include "tools/art/conduit/conduit_pictures.h"

using namespace art;

namespace {

bool Write(const std::string& dir, const std::string& name, const Bytes& bytes) {
    std::string path = dir + "/" + name;
    if (WriteFileAtomically(path, bytes)) return true;
    fprintf(stderr, "art_conduit: cannot write %s\n", path.c_str());
    return false;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2 || !argv[1][0]) {
        fprintf(stderr, "usage: art_conduit OUTDIR\n");
        return 2;
    }
    std::string dir = argv[1];
    bool ok = true;
    const struct {
        const char* name;
        Action action;
    } actions[] = {{"action103.bmp", ActionBothWays},
                   {"action104.bmp", ActionToHandheld},
                   {"action105.bmp", ActionToDesktop},
                   {"action106.bmp", ActionPause}};
    for (const auto& a : actions)
        ok = Write(dir, a.name, EncodeBmp(ToBitmap16(DrawAction(a.action), kSilverIndex))) && ok;
    std::vector<IndexedImage> icon;
    for (bool classic : {true, false})
        for (int size : {32, 16}) {
            Canvas c = DrawConduitIcon(size, classic);
            icon.push_back(classic ? ToIcon16(c) : ToIcon256(c));
        }
    ok = Write(dir, "conduit105.ico", EncodeIco(icon)) && ok;
    return ok ? 0 : 1;
}
