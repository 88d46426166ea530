#include "agent/path/path_text.h"

#include <string.h>

namespace {

bool IsHighSurrogate(unsigned unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}

bool IsLowSurrogate(unsigned unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

// One code point's bytes; returns how many.
size_t Encode(unsigned point, unsigned char (&bytes)[4]) {
    if (point < 0x80) {
        bytes[0] = static_cast<unsigned char>(point);
        return 1;
    }
    if (point < 0x800) {
        bytes[0] = static_cast<unsigned char>(0xC0 | point >> 6);
        bytes[1] = static_cast<unsigned char>(0x80 | (point & 0x3F));
        return 2;
    }
    if (point < 0x10000) {
        bytes[0] = static_cast<unsigned char>(0xE0 | point >> 12);
        bytes[1] = static_cast<unsigned char>(0x80 | (point >> 6 & 0x3F));
        bytes[2] = static_cast<unsigned char>(0x80 | (point & 0x3F));
        return 3;
    }
    bytes[0] = static_cast<unsigned char>(0xF0 | point >> 18);
    bytes[1] = static_cast<unsigned char>(0x80 | (point >> 12 & 0x3F));
    bytes[2] = static_cast<unsigned char>(0x80 | (point >> 6 & 0x3F));
    bytes[3] = static_cast<unsigned char>(0x80 | (point & 0x3F));
    return 4;
}

// The code point at text, and its length in bytes; 0 when no sequence starts there.
size_t Decode(const unsigned char* text, unsigned* point) {
    unsigned lead = text[0];
    size_t length;
    unsigned least; // the smallest point that needs this many bytes
    if (lead < 0x80) {
        *point = lead;
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        least = 0x80;
        *point = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        least = 0x800;
        *point = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        least = 0x10000;
        *point = lead & 0x07;
    } else {
        return 0;
    }
    for (size_t i = 1; i < length; ++i) {
        if ((text[i] & 0xC0) != 0x80) return 0; // the terminator ends a cut sequence here too
        *point = *point << 6 | (text[i] & 0x3F);
    }
    if (*point < least || *point > 0x10FFFF) return 0;
    return length;
}

// The code point at units[*i], *i moved past it: a pair of surrogates is one point, an unpaired
// one stands for itself.
unsigned NextPoint(const PathUnit* units, size_t count, size_t* i) {
    unsigned point = static_cast<unsigned>(units[(*i)++]) & 0xFFFF;
    if (IsHighSurrogate(point) && *i < count) {
        unsigned low = static_cast<unsigned>(units[*i]) & 0xFFFF;
        if (IsLowSurrogate(low)) {
            ++*i;
            point = 0x10000 + ((point - 0xD800) << 10) + (low - 0xDC00);
        }
    }
    return point;
}

} // namespace

size_t ToPathText(const PathUnit* units, size_t count, char* out, size_t size) {
    unsigned char bytes[4];
    size_t needed = 1;
    for (size_t i = 0; i < count;)
        needed += Encode(NextPoint(units, count, &i), bytes);
    if (!out || size < needed) return needed;
    size_t at = 0;
    for (size_t i = 0; i < count;) {
        size_t n = Encode(NextPoint(units, count, &i), bytes);
        memcpy(out + at, bytes, n);
        at += n;
    }
    out[at] = '\0';
    return needed;
}

size_t ToPathUnits(const char* text, PathUnit* out, size_t size) {
    if (!text) return 0;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    unsigned point;
    size_t needed = 1;
    for (size_t at = 0; p[at];) {
        size_t n = Decode(p + at, &point);
        if (n == 0) return 0;
        at += n;
        needed += point >= 0x10000 ? 2 : 1;
    }
    if (!out || size < needed) return needed;
    size_t i = 0;
    for (size_t at = 0; p[at];) {
        at += Decode(p + at, &point);
        if (point >= 0x10000) {
            point -= 0x10000;
            out[i++] = static_cast<PathUnit>(0xD800 + (point >> 10));
            out[i++] = static_cast<PathUnit>(0xDC00 + (point & 0x3FF));
        } else {
            out[i++] = static_cast<PathUnit>(point);
        }
    }
    out[i] = 0;
    return needed;
}
