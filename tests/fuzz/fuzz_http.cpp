// Any bytes as a server's reply, fed to the reply reader in random pieces and ended by a close or
// by a broken read, against a second, deliberately plain reading of the same rules written here;
// then the rates file built from it, checked byte by byte against the line rule.
#include <limits.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "agent/update/http_reply.h"
#include "agent/update/http_status.h"
#include "agent/update/rates_format.h"

namespace {

void Check(bool ok) {
    if (!ok) abort();
}

// The status the way a C runtime reads a zero-terminated line: strchr, then strtol.
long ReferenceStatus(const std::string& line) {
    const char* space = strchr(line.c_str(), ' ');
    return space ? strtol(space + 1, nullptr, 10) : 0;
}

void CheckStatus(const uint8_t* data, size_t size) {
    // Every prefix, each in a buffer of exactly its length, so that a read past it is caught.
    size_t most = size < 40 ? size : 40;
    for (size_t n = 0; n <= most; ++n) {
        std::vector<char> exact(data, data + n);
        long status = ParseHttpStatus(exact.data(), n);
        if (memchr(data, 0, n)) continue; // strtol would see a shorter text
        long expected = ReferenceStatus(std::string(data, data + n));
        // Below the range of long the two saturate differently; both stay far from 200.
        if (expected != LONG_MIN) Check(status == expected);
    }
}

std::string Lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return s;
}

std::string TrimBlanks(const std::string& s) {
    size_t a = s.find_first_not_of(" \t");
    if (a == std::string::npos) return "";
    return s.substr(a, s.find_last_not_of(" \t") - a + 1);
}

std::vector<std::string> Split(const std::string& s, char by) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        size_t at = s.find(by, start);
        parts.push_back(s.substr(start, at == std::string::npos ? std::string::npos : at - start));
        if (at == std::string::npos) return parts;
        start = at + 1;
    }
}

std::string WithoutCr(std::string line) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

bool BodyOk(const std::string& body) {
    size_t lines = 0;
    for (char c : body)
        lines += c == '\n';
    return body.find('\0') == std::string::npos && body.size() <= 65530 && lines >= 1 &&
           lines <= 9999;
}

// The chunked body decoded; false when it is malformed, cut or followed by more bytes.
bool Dechunk(const std::string& rest, std::string* data) {
    size_t pos = 0;
    for (;;) {
        size_t lf = rest.find('\n', pos);
        if (lf == std::string::npos) return false;
        std::string line = WithoutCr(rest.substr(pos, lf - pos));
        pos = lf + 1;
        size_t i = 0;
        unsigned long size = 0;
        while (i < line.size() && isxdigit(static_cast<unsigned char>(line[i]))) {
            size = size * 16 + static_cast<unsigned long>(strtol(line.substr(i, 1).c_str(), 0, 16));
            if (size > 100000) size = 100000;
            ++i;
        }
        if (i == 0) return false;
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
            ++i;
        if (i < line.size() && line[i] != ';') return false;
        if (size > 65530 - data->size()) return false;
        if (size == 0) break;
        if (rest.size() - pos < size) return false;
        *data += rest.substr(pos, size);
        pos += size;
        if (rest.compare(pos, 1, "\n") == 0)
            pos += 1;
        else if (rest.compare(pos, 2, "\r\n") == 0)
            pos += 2;
        else
            return false;
    }
    for (;;) { // trailers, up to a blank line
        size_t lf = rest.find('\n', pos);
        if (lf == std::string::npos) return false;
        bool blank = WithoutCr(rest.substr(pos, lf - pos)).empty();
        pos = lf + 1;
        if (blank) return pos == rest.size();
    }
}

// The page of a whole reply, or false. `closed`: the peer closed; otherwise the reading broke.
bool ReferencePage(const std::string& in, bool closed, std::string* page) {
    std::string t = "\n" + in;
    size_t a = t.find("\n\n"), b = t.find("\n\r\n");
    size_t headLength = std::string::npos;
    if (a != std::string::npos) headLength = a + 1;
    if (b != std::string::npos && b + 2 < headLength) headLength = b + 2;
    if (headLength == std::string::npos || headLength > 16384) return false;
    std::string head = in.substr(0, headLength), rest = in.substr(headLength);
    if (head.find('\0') != std::string::npos) return false;

    std::vector<std::string> lines = Split(head, '\n');
    lines.pop_back(); // after the last line feed
    lines.pop_back(); // the blank line
    if (lines.empty() || ReferenceStatus(WithoutCr(lines[0])) != 200) return false;
    std::string last;
    int lengths = 0, codings = 0, codingFields = 0;
    std::string length;
    for (size_t i = 1; i < lines.size(); ++i) {
        std::string line = WithoutCr(lines[i]);
        if (!line.empty() && (line[0] == ' ' || line[0] == '\t')) {
            if (last == "content-length" || last == "transfer-encoding") return false;
            continue;
        }
        size_t colon = line.find(':');
        last = colon == std::string::npos ? "" : Lower(line.substr(0, colon));
        std::string value = colon == std::string::npos ? "" : TrimBlanks(line.substr(colon + 1));
        if (last == "content-length") {
            if (value.empty() || value.find_first_not_of("0123456789") != std::string::npos)
                return false;
            value.erase(0, value.find_first_not_of('0'));
            if (value.size() > 6) value = "999999";
            if (lengths++ && value != length) return false;
            length = value;
        } else if (last == "transfer-encoding") {
            ++codingFields;
            for (const std::string& part : Split(value, ',')) {
                std::string coding = Lower(TrimBlanks(part));
                if (coding.empty()) continue;
                if (coding != "chunked") return false;
                ++codings;
            }
        }
    }
    if (codingFields) {
        if (codings != 1 || !Dechunk(rest, page)) return false;
    } else if (lengths) {
        if (rest.size() != strtoul(("0" + length).c_str(), nullptr, 10)) return false;
        *page = rest;
    } else {
        if (!closed) return false;
        *page = rest;
    }
    return BodyOk(*page);
}

struct Pieces { // splits the input the same way for the same input
    uint32_t state;
    size_t Next(size_t left) {
        state = state * 1103515245u + 12345u;
        size_t most = (state >> 16) % 3 == 0 ? 4096 : 24;
        size_t n = 1 + (state >> 8) % most;
        return n < left ? n : left;
    }
};

struct FirstVerdict {
    size_t at = std::string::npos; // bytes fed when the reader first decided
    ReplyVerdict verdict = kReplyNeedMore;
    std::string page;
};

ReplyVerdict FeedInPieces(const std::string& in, bool closed, ReplyReader* reader,
                          FirstVerdict* first) {
    Pieces pieces{static_cast<uint32_t>(in.size() * 2654435761u)};
    for (unsigned char c : in.substr(0, 8))
        pieces.state = pieces.state * 31 + c;
    size_t fed = 0;
    while (fed < in.size()) {
        size_t n = pieces.Next(in.size() - fed);
        std::vector<char> exact(in.begin() + fed, in.begin() + fed + n);
        ReplyVerdict v = reader->Feed(exact.data(), n);
        fed += n;
        if (v != kReplyNeedMore && first->at == std::string::npos) {
            first->at = fed;
            first->verdict = v;
            if (v == kReplyPage) first->page.assign(reader->body, reader->bodySize);
        }
    }
    return reader->End(closed);
}

void CheckImage(const std::string& page, const uint8_t* image, size_t size) {
    unsigned lines = 0;
    for (char c : page)
        lines += c == '\n';
    Check(size == 12 + 5 + page.size());
    Check(memcmp(image, "kelpo\0\0\0\x78\x56\x34\x12", 12) == 0);
    char count[6] = {static_cast<char>('0' + lines / 1000),
                     static_cast<char>('0' + lines / 100 % 10),
                     static_cast<char>('0' + lines / 10 % 10),
                     static_cast<char>('0' + lines % 10),
                     0,
                     0};
    Check(memcmp(image + 12, count, 5) == 0);
    // A line feed ends the line as a zero, the line's first tab joins its first two fields with
    // a space, later tabs end fields as zeros, every other byte stays.
    const uint8_t* out = image + 17;
    bool tabSeen = false;
    for (size_t i = 0; i < page.size(); ++i) {
        uint8_t in = static_cast<uint8_t>(page[i]);
        if (in == '\n') {
            Check(out[i] == 0);
            tabSeen = false;
        } else if (in == '\t') {
            Check(out[i] == (tabSeen ? 0 : ' '));
            tabSeen = true;
        } else {
            Check(out[i] == in);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 200 * 1024) return 0; // the framing bound is not what is looked at here
    CheckStatus(data, size);
    std::string in(reinterpret_cast<const char*>(data), size);

    for (bool closed : {true, false}) {
        std::string expected;
        bool page = ReferencePage(in, closed, &expected);
        ReplyReader reader;
        FirstVerdict first;
        ReplyVerdict v = FeedInPieces(in, closed, &reader, &first);
        Check(v == (page ? kReplyPage : kReplyNoPage));
        if (page) Check(std::string(reader.body, reader.bodySize) == expected);
        // Decided before any close: a page is whole by its own framing; no page stays no page.
        if (first.at != std::string::npos) {
            std::string prefix, none;
            if (first.verdict == kReplyPage) {
                Check(ReferencePage(in.substr(0, first.at), false, &prefix));
                Check(prefix == first.page);
            } else {
                Check(!ReferencePage(in.substr(0, first.at), true, &none));
                Check(!page);
            }
        }
    }

    ReplyReader whole;
    std::string expected;
    bool page = ReferencePage(in, true, &expected);
    Check(DecideReply(in.data(), in.size(), &whole) == (page ? kReplyPage : kReplyNoPage));

    RatesImage image;
    RatesResult result = BuildRatesFile(in.data(), in.size(), 0x12345678, &image);
    Check((result == kRatesOk) == page && (result == kRatesOk) == (whole.result == kRatesOk));
    if (page) {
        CheckImage(expected, image.bytes, image.size);
        RatesFileView view;
        Check(CheckRatesFile(image.bytes, image.size, &view) == nullptr);
    } else {
        Check(image.bytes == nullptr);
    }
    FreeRatesImage(&image);
    return 0;
}
