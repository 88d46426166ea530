// What differs between the shipped 32-bit build and the 64-bit test build: a test writes both
// figures side by side, the 32-bit one first.
#pragma once

template <typename T> constexpr T ByBuild(T i686, T x86_64) {
#ifdef _WIN64
    (void)i686;
    return x86_64;
#else
    (void)x86_64;
    return i686;
#endif
}
