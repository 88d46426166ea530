// art_agent OUTDIR: writes the agent's icon and bitmap resources.
#include <stdio.h>

#include <string>
#include <vector>

#include "tools/art/agent/agent_pictures.h"
#include "tools/art/common/image_files.h"

using namespace art;

namespace {

bool Write(const std::string& dir, const std::string& name, const Bytes& bytes) {
    std::string path = dir + "/" + name;
    if (WriteFileAtomically(path, bytes)) return true;
    fprintf(stderr, "art_agent: cannot write %s\n", path.c_str());
    return false;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2 || !argv[1][0]) {
        fprintf(stderr, "usage: art_agent OUTDIR\n");
        return 2;
    }
    std::string dir = argv[1];
    bool ok = true;
    for (int frame = 0; frame < kTrayFrames; ++frame) {
        char name[32];
        snprintf(name, sizeof name, "frame%d.ico", 104 + frame);
        ok = Write(dir, name, EncodeIco({ToIcon256(DrawTrayFrame(frame))})) && ok;
    }
    std::vector<IndexedImage> classIcon;
    for (bool classic : {true, false})
        for (int size : {32, 24, 16}) {
            Canvas c = DrawClassIcon(size, classic);
            classIcon.push_back(classic ? ToIcon16(c) : ToIcon256(c));
        }
    ok = Write(dir, "agent133.ico", EncodeIco(classIcon)) && ok;
    // The agent loads 139, 137, 138 as its normal, hot and pressed close box.
    ok = Write(dir, "close139.bmp", EncodeBmp24(DrawCloseBox(CloseNormal))) && ok;
    ok = Write(dir, "close137.bmp", EncodeBmp24(DrawCloseBox(CloseHot))) && ok;
    ok = Write(dir, "close138.bmp", EncodeBmp24(DrawCloseBox(ClosePressed))) && ok;
    return ok ? 0 : 1;
}
