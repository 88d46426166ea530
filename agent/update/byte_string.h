// The agent's heap text: exact-fit growth, no stored length, printf-style formatting.
#pragma once
#include <stdarg.h>
#include <stdint.h>

#ifdef _WIN32
#include <windows.h>
#endif

class ByteString {
  public:
    ByteString() = default;
    explicit ByteString(const char* text) { Assign(text); }
    ByteString(const ByteString&) = delete;
    ByteString& operator=(const ByteString&) = delete;
    virtual ~ByteString() { Release(); }

    ByteString& Assign(const char* text);
    ByteString& Append(const char* text);
    unsigned Length() const;
    const char* CStr() const { return data; }
    int Compare(const char* text) const;
    bool Equals(const char* text) const { return Compare(text) == 0; }
    void Format(const char* format, ...)
#ifdef __GNUC__
        __attribute__((format(printf, 2, 3)))
#endif
        ;
    void FormatV(const char* format, va_list args);
#ifdef _WIN32
    void FormatResource(HINSTANCE module, UINT id, ...);
#endif
    bool Reserve(int32_t n);
    void ToLower();
    void Release();
    // Takes over a malloc'd buffer of capacity + 2 bytes: a text, then zeros to its end.
    void Adopt(char* buffer, int32_t capacity);
    int32_t Capacity() const {
        return data ? capacity : 0;
    }

    enum { kFormatLimit = 510 };

  private:
    char* data = nullptr;
    int32_t capacity = 0;
};
