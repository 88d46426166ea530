// Tiny owners for GDI handles, so that every exit path gives them back.
#pragma once
#include <windows.h>

template <typename T> class ScopedGdiObject {
  public:
    explicit ScopedGdiObject(T object = nullptr) : h(object) {}
    ScopedGdiObject(const ScopedGdiObject&) = delete;
    ScopedGdiObject& operator=(const ScopedGdiObject&) = delete;
    ~ScopedGdiObject() {
        if (h) DeleteObject(h);
    }
    T Get() const { return h; }
    T Release() {
        T t = h;
        h = nullptr;
        return t;
    }

  private:
    T h;
};

typedef ScopedGdiObject<HBRUSH> ScopedBrush;
typedef ScopedGdiObject<HBITMAP> ScopedBitmap;
typedef ScopedGdiObject<HRGN> ScopedRegion;

// A window's (or the screen's) device context from GetDC.
class ScopedGetDC {
  public:
    explicit ScopedGetDC(HWND window) : w(window), dc(GetDC(window)) {}
    ScopedGetDC(const ScopedGetDC&) = delete;
    ScopedGetDC& operator=(const ScopedGetDC&) = delete;
    ~ScopedGetDC() {
        if (dc) ReleaseDC(w, dc);
    }
    HDC Get() const { return dc; }

  private:
    HWND w;
    HDC dc;
};

class ScopedMemDC {
  public:
    explicit ScopedMemDC(HDC compatible) : dc(CreateCompatibleDC(compatible)) {}
    ScopedMemDC(const ScopedMemDC&) = delete;
    ScopedMemDC& operator=(const ScopedMemDC&) = delete;
    ~ScopedMemDC() {
        if (dc) DeleteDC(dc);
    }
    HDC Get() const { return dc; }

  private:
    HDC dc;
};

// Selects an object for a scope and puts the previous one back; declare it after the object's
// owner so that the object is deselected before it is deleted.
class ScopedSelect {
  public:
    ScopedSelect(HDC dc, HGDIOBJ object)
        : d(dc), previous(dc && object ? SelectObject(dc, object) : nullptr) {}
    ScopedSelect(const ScopedSelect&) = delete;
    ScopedSelect& operator=(const ScopedSelect&) = delete;
    ~ScopedSelect() {
        if (previous) SelectObject(d, previous);
    }

  private:
    HDC d;
    HGDIOBJ previous;
};
