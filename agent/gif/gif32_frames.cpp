// Gif32's loading side: the resource copied out, the stream cut into frames, each frame made a
// picture by the system's loader. The drawing and the animation thread are in gif32.cpp.
#include "agent/gif/gif32.h"

#include <stdlib.h>
#include <string.h>

#include "agent/owners.h"

namespace {

const int kHimetricPerInch = 2540;

// The system's picture loader, bound on first use: ole32 and oleaut32 bring RPC and COM along and
// cost over a megabyte of private memory that an agent whose About box stays closed never needs.
typedef HRESULT(WINAPI* CreateStreamFn)(HGLOBAL, BOOL, LPSTREAM*);
typedef HRESULT(WINAPI* LoadPictureFn)(LPSTREAM, LONG, BOOL, REFIID, LPVOID*);

struct PictureLoader {
    CreateStreamFn createStream;
    LoadPictureFn loadPicture;
};

template <class Fn> Fn Bind(HMODULE module, const char* name) {
    FARPROC proc = module ? GetProcAddress(module, name) : nullptr;
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(proc));
}

// Only the UI thread loads pictures. The libraries stay loaded once they are.
const PictureLoader* BindPictureLoader() {
    static PictureLoader loader = {nullptr, nullptr};
    if (!loader.createStream)
        loader.createStream =
            Bind<CreateStreamFn>(LoadLibraryA("ole32.dll"), "CreateStreamOnHGlobal");
    if (!loader.loadPicture)
        loader.loadPicture = Bind<LoadPictureFn>(LoadLibraryA("oleaut32.dll"), "OleLoadPicture");
    return loader.createStream && loader.loadPicture ? &loader : nullptr;
}

// The resource's bytes in movable global memory of their own, or null with the reason written out.
HGLOBAL CopyResource(LPCSTR name, LPCSTR type, HINSTANCE instance, DWORD* size) {
    HRSRC found = FindResourceA(instance, name, type);
    ScopedResource resource(found ? LoadResource(instance, found) : nullptr);
    if (!resource.Held()) {
        OutputDebugStringA("Load (resource): Error loading resource \n");
        return nullptr;
    }
    *size = SizeofResource(instance, found);
    ScopedGlobal memory(GlobalAlloc(GMEM_MOVEABLE | GMEM_NODISCARD, *size));
    if (!memory.Held()) {
        OutputDebugStringA("Load (resource): Error allocating memory\n");
        return nullptr;
    }
    {
        ScopedGlobalLock target(memory.Get());
        const void* source = LockResource(resource.Get());
        if (!target.Held() || !source) {
            OutputDebugStringA("Load (resource): Error locking memory\n");
            return nullptr;
        }
        memcpy(target.Get(), source, *size);
    }
    return memory.Detach();
}

} // namespace

bool GifFrameList::Append(const GifFrame& frame) {
    if (count == capacity) {
        int grown = capacity ? capacity * 2 : 16;
        GifFrame* bigger = static_cast<GifFrame*>(realloc(items, grown * sizeof(GifFrame)));
        if (!bigger) return false;
        items = bigger;
        capacity = grown;
    }
    items[count++] = frame;
    return true;
}

void GifFrameList::ReleaseAll() {
    for (int i = 0; i < count; ++i)
        FreeComObject(items[i].picture);
    count = 0;
}

void GifFrameList::FreeStorage() {
    ReleaseAll();
    free(items);
    items = nullptr;
    capacity = 0;
}

BOOL Gif32::Load(LPCSTR name, LPCSTR type, HINSTANCE instance) {
    DWORD size = 0;
    ScopedGlobal memory(CopyResource(name, type, instance, &size));
    if (!memory.Held()) return FALSE;
    BOOL result = Load(memory.Get(), size);
    memory.Reset();
    firstFrameOnly = TRUE;
    Draw();
    return result;
}

IPicture* Gif32::LoadPicture(HGLOBAL memory, DWORD size, bool ownsMemory) {
    // A block handed over is ours to free until the stream takes it.
    ScopedGlobal handedOver(ownsMemory ? memory : nullptr);
    const PictureLoader* loader = BindPictureLoader();
    ScopedCom<IStream> stream;
    if (!loader ||
        FAILED(loader->createStream(memory, ownsMemory ? TRUE : FALSE, stream.Receive())))
        return nullptr;
    handedOver.Detach();
    ScopedCom<IPicture> picture;
    HRESULT hr = loader->loadPicture(stream.Get(), static_cast<LONG>(size), FALSE, IID_IPicture,
                                     reinterpret_cast<void**>(picture.Receive()));
    stream.Reset();
    return SUCCEEDED(hr) ? picture.Detach() : nullptr;
}

HGLOBAL Gif32::ExtractFrame(DWORD* streamLength, int* delay, SIZE* size, POINT* origin,
                            int* disposal) {
    GifFrameRange range;
    if (!scanner.ExtractFrame(&range)) return nullptr;
    DWORD length = scanner.FrameStreamLength(range);
    HGLOBAL memory = GlobalAlloc(GMEM_FIXED, length);
    if (!memory) return nullptr;
    scanner.WriteFrameStream(range, static_cast<uint8_t*>(memory));
    *streamLength = length;
    *delay = range.delay;
    size->cx = range.width;
    size->cy = range.height;
    origin->x = range.left;
    origin->y = range.top;
    *disposal = range.disposal;
    return memory;
}

bool Gif32::LoadAnimation() {
    scanner.Rewind();
    for (;;) {
        DWORD streamLength;
        int delay, disposal;
        SIZE size;
        POINT origin;
        HGLOBAL memory = ExtractFrame(&streamLength, &delay, &size, &origin, &disposal);
        if (!memory) break;
        // The stream owns the block: it is freed as soon as the picture exists.
        IPicture* picture = LoadPicture(memory, streamLength, true);
        if (!picture) continue;
        GifFrame frame = {picture, size.cx, size.cy, origin.x, origin.y, delay, disposal};
        if (!frames.Append(frame)) FreeComObject(frame.picture);
    }
    return frames.count > 0;
}

// The loader refuses a whole stream whose tail is broken; its one complete frame, cut out on its
// own, still shows.
IPicture* Gif32::LoadOnlyFrame(HGLOBAL memory, DWORD size) {
    DWORD streamLength;
    HGLOBAL frame;
    {
        ScopedGlobalLock bytes(memory);
        if (!bytes.Held()) return nullptr;
        scanner.Attach(static_cast<const uint8_t*>(bytes.Get()), size);
        int delay, disposal;
        SIZE frameSize;
        POINT origin;
        frame = ExtractFrame(&streamLength, &delay, &frameSize, &origin, &disposal);
        scanner.data = nullptr;
    }
    return frame ? LoadPicture(frame, streamLength, true) : nullptr;
}

BOOL Gif32::Load(HGLOBAL memory, DWORD size) {
    Clear();
    GifPath path;
    // The loader makes a picture of the frame alone, so a frame smaller than the screen is
    // drawn at its own place rather than stretched over the whole canvas.
    GifFrameRange only = {};
    bool animationLoaded = false;
    {
        ScopedGlobalLock bytes(memory);
        if (!bytes.Held()) {
            OutputDebugStringA("Load: Error locking memory\n");
            return FALSE;
        }
        // A count larger than the block must not lead the scan past its end.
        SIZE_T blockSize = GlobalSize(memory);
        if (size > blockSize) size = static_cast<DWORD>(blockSize);

        int frameCount;
        path = ChooseGifPath(&scanner, static_cast<const uint8_t*>(bytes.Get()), size, &frameCount);
        isGif = scanner.isGif;
        if (isGif) {
            width = scanner.width;
            height = scanner.height;
        }
        if (path == GifPathAnimation)
            animationLoaded = LoadAnimation();
        else if (path == GifPathOneFrame)
            scanner.ExtractFrame(&only);
        scanner.data = nullptr;
    }
    if (path == GifPathAnimation) return animationLoaded && PrepareCanvas(width, height);
    if (path == GifPathNoFrame) return FALSE;
    return LoadStill(memory, size, path, only);
}

bool Gif32::LoadStill(HGLOBAL memory, DWORD size, GifPath path, const GifFrameRange& only) {
    stillPicture = LoadPicture(memory, size, false);
    if (!stillPicture && path == GifPathOneFrame) stillPicture = LoadOnlyFrame(memory, size);
    if (!stillPicture) return false;
    if (path == GifPathNotGif) {
        OLE_XSIZE_HIMETRIC hmWidth = 0;
        OLE_YSIZE_HIMETRIC hmHeight = 0;
        stillPicture->get_Width(&hmWidth);
        stillPicture->get_Height(&hmHeight);
        ScopedGetDC dc(window);
        width = MulDiv(hmWidth, GetDeviceCaps(dc.Get(), LOGPIXELSX), kHimetricPerInch);
        height = MulDiv(hmHeight, GetDeviceCaps(dc.Get(), LOGPIXELSY), kHimetricPerInch);
        SetRect(&stillArea, 0, 0, width, height);
    } else {
        SetRect(&stillArea, only.left, only.top, only.left + only.width, only.top + only.height);
    }
    return PrepareCanvas(width, height) != FALSE;
}
