// What the conduit acquires in a scope goes back when the scope ends, on every path. The conduit
// shares no code with the agent, so it has these few of its own.
#pragma once
#include <windows.h>

inline void CloseKey(HKEY key) {
    RegCloseKey(key);
}
inline void ReleaseScreenDC(HDC dc) {
    ReleaseDC(nullptr, dc);
}
inline void FreeHeapBlock(BYTE* block) {
    HeapFree(GetProcessHeap(), 0, block);
}

// Free is called once for a non-null value.
template <typename T, void (*Free)(T)> class Owner {
  public:
    explicit Owner(T acquired) : value(acquired) {}
    ~Owner() {
        if (value) Free(value);
    }
    T Get() const { return value; }

  private:
    Owner(const Owner&) = delete;
    Owner& operator=(const Owner&) = delete;
    T value;
};

typedef Owner<HKEY, CloseKey> KeyOwner;
// GetDC(nullptr): the screen's device context.
typedef Owner<HDC, ReleaseScreenDC> ScreenDC;
typedef Owner<BYTE*, FreeHeapBlock> HeapBlock;
