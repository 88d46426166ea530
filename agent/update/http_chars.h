// The few character classes of HTTP's text that the head reader and the chunked decoder share.
#pragma once

// Optional white space: a space or a horizontal tab.
inline bool Blank(char c) {
    return c == ' ' || c == '\t';
}

inline char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}
