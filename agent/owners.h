// Owners for what the agent acquires in a scope, so that every exit path gives it back, and one
// release function for each kind of handle that lives in a field.
#pragma once
#include <stdlib.h>

#ifdef _WIN32
#include <windows.h>
#endif

// Null means nothing is held; for a plain handle so does CreateFile's INVALID_HANDLE_VALUE.
template <typename T> bool IsNothing(T value) {
    return !value;
}
#ifdef _WIN32
inline bool IsNothing(HANDLE value) {
    return !value || value == INVALID_HANDLE_VALUE;
}
#endif

// Free gives a held value back; it is called at most once.
template <typename T, void (*Free)(T)> class Owned {
  public:
    explicit Owned(T held = T()) : value(held) {}
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;
    ~Owned() { Reset(); }

    T Get() const { return value; }
    bool Held() const { return !IsNothing(value); }
    // Ownership passes to the caller: a field, a window or a stream keeps it from now on.
    T Detach() {
        T kept = value;
        value = T();
        return kept;
    }
    void Reset(T fresh = T()) {
        if (Held()) Free(value);
        value = fresh;
    }
    // For calls that hand what they acquire back through a pointer.
    T* Receive() {
        Reset();
        return &value;
    }

  private:
    T value;
};

// The C heap, for the code that also runs without Windows.
template <typename T> void FreeMalloc(T* block) {
    free(block);
}
template <typename T> using ScopedMalloc = Owned<T*, FreeMalloc<T>>;

#ifdef _WIN32
// How each kind is given back.
struct GiveBack {
    static void Handle(HANDLE handle) { CloseHandle(handle); }
    static void Key(HKEY key) { RegCloseKey(key); }
    static void Library(HMODULE module) { FreeLibrary(module); }
    static void Global(HGLOBAL memory) { GlobalFree(memory); }
    static void Resource(HGLOBAL resource) { FreeResource(resource); }
    static void MemoryDC(HDC dc) { DeleteDC(dc); }
    template <typename T> static void Heap(T* block) { HeapFree(GetProcessHeap(), 0, block); }
    template <typename T> static void Gdi(T object) { DeleteObject(object); }
    template <typename T> static void Com(T* object) { object->Release(); }
};

typedef Owned<HANDLE, GiveBack::Handle> ScopedHandle; // CreateFile's as well as the others'
typedef Owned<HKEY, GiveBack::Key> ScopedKey;
typedef Owned<HMODULE, GiveBack::Library> ScopedLibrary;
typedef Owned<HGLOBAL, GiveBack::Global> ScopedGlobal;
typedef Owned<HGLOBAL, GiveBack::Resource> ScopedResource;
typedef Owned<HDC, GiveBack::MemoryDC> ScopedMemDC; // from CreateCompatibleDC
typedef Owned<HBRUSH, GiveBack::Gdi<HBRUSH>> ScopedBrush;
typedef Owned<HBITMAP, GiveBack::Gdi<HBITMAP>> ScopedBitmap;
typedef Owned<HRGN, GiveBack::Gdi<HRGN>> ScopedRegion;
template <typename T> using ScopedHeap = Owned<T*, GiveBack::Heap<T>>;
template <typename T> using ScopedCom = Owned<T*, GiveBack::Com<T>>;

// A value given back to what it came from: a window's device context, a selection's displaced
// object, the pointer of a memory lock.
template <typename From, typename T, void (*Free)(From, T)> class OwnedFrom {
  public:
    OwnedFrom(From from, T held) : source(from), value(held) {}
    OwnedFrom(const OwnedFrom&) = delete;
    OwnedFrom& operator=(const OwnedFrom&) = delete;
    ~OwnedFrom() {
        if (value) Free(source, value);
    }
    T Get() const { return value; }
    bool Held() const { return value != nullptr; }

  private:
    From source;
    T value;
};

struct GiveBackTo {
    static void Window(HWND window, HDC dc) { ReleaseDC(window, dc); }
    static void Selection(HDC dc, HGDIOBJ previous) { SelectObject(dc, previous); }
    static void Lock(HGLOBAL memory, void*) { GlobalUnlock(memory); }
};

// A window's (or, for null, the screen's) device context from GetDC.
struct ScopedGetDC : OwnedFrom<HWND, HDC, GiveBackTo::Window> {
    explicit ScopedGetDC(HWND window) : OwnedFrom(window, GetDC(window)) {}
};

// Selects an object for a scope and puts the previous one back; declare it after the object's
// owner so that the object is deselected before it is deleted.
struct ScopedSelect : OwnedFrom<HDC, HGDIOBJ, GiveBackTo::Selection> {
    ScopedSelect(HDC dc, HGDIOBJ object)
        : OwnedFrom(dc, dc && object ? SelectObject(dc, object) : nullptr) {}
};

// Locked global memory; unlocked when the scope ends.
struct ScopedGlobalLock : OwnedFrom<HGLOBAL, void*, GiveBackTo::Lock> {
    explicit ScopedGlobalLock(HGLOBAL memory) : OwnedFrom(memory, GlobalLock(memory)) {}
};

// Fields that outlive a scope: each kind has one function that gives it back and clears it.
template <typename T> void FreeGdiObject(T& object) {
    if (object) DeleteObject(object);
    object = nullptr;
}

template <typename T> void FreeComObject(T*& object) {
    if (object) object->Release();
    object = nullptr;
}

// A bitmap held selected in a memory DC of its own, kept in three fields: the DC, the bitmap and
// what the bitmap displaced. Made whole or not at all.
inline bool MakeBitmapDC(HDC compatible, int width, int height, HDC& dc, HBITMAP& bitmap,
                         HGDIOBJ& previous) {
    ScopedMemDC madeDC(CreateCompatibleDC(compatible));
    ScopedBitmap madeBitmap(CreateCompatibleBitmap(compatible, width, height));
    if (!madeDC.Held() || !madeBitmap.Held()) return false;
    previous = SelectObject(madeDC.Get(), madeBitmap.Get());
    dc = madeDC.Detach();
    bitmap = madeBitmap.Detach();
    return true;
}

inline void FreeBitmapDC(HDC& dc, HBITMAP& bitmap, HGDIOBJ& previous) {
    if (dc) {
        if (previous) SelectObject(dc, previous);
        DeleteDC(dc);
    }
    FreeGdiObject(bitmap);
    dc = nullptr;
    previous = nullptr;
}
#endif
