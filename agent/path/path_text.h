// Paths as the agent holds them: the system's UTF-16 names as 8-bit text, so that the agent's
// byte strings build and format them. A name is kept whole: UTF-8, where an unpaired surrogate
// (Windows allows one in a name) keeps its own three bytes. Needs no Windows.
#pragma once
#include <stddef.h>

#ifdef _WIN32
typedef wchar_t PathUnit; // WCHAR
#else
typedef char16_t PathUnit;
#endif

// The path text of `count` units into out (size bytes) with its terminator. Returns the bytes it
// needs, terminator included; out is written only when they fit.
size_t ToPathText(const PathUnit* units, size_t count, char* out, size_t size);

// The units of a terminated path text into out (size units) with a terminator. Returns the units
// it needs, terminator included, or 0 when the text is not path text (a byte that starts or
// continues no sequence, a sequence cut short or longer than it needs, past U+10FFFF); out is
// written only when they fit.
size_t ToPathUnits(const char* text, PathUnit* out, size_t size);
