#include "tests/win/balloon/balloon_test_support.h"

#include <stdio.h>
#include <stdlib.h>

#include "agent/balloon/balloon_window.h"

void Pump(DWORD ms) {
    PumpUntil([] { return false; }, ms);
}

bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    for (;;) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        if (done()) return true;
        DWORD spent = GetTickCount() - start;
        if (spent >= timeoutMs) return done();
        MsgWaitForMultipleObjects(0, nullptr, FALSE,
                                  timeoutMs - spent < 10 ? timeoutMs - spent : 10, QS_ALLINPUT);
    }
}

std::vector<HWND> OpenBalloons() {
    HWND handles[64];
    int n = CopyOpenBalloons(handles, 64);
    return std::vector<HWND>(handles, handles + (n < 64 ? n : 64));
}

BalloonRect CloseBoxOf(HWND balloon, int side) {
    RECT rc;
    GetClientRect(balloon, &rc);
    BalloonRect client = {rc.left, rc.top, rc.right, rc.bottom};
    return CloseBoxRect(ContentRect(client, side), GetSystemMetrics(SM_CXSIZE),
                        GetSystemMetrics(SM_CYSIZE));
}

int TailSideFor(int anchorX, int anchorY) {
    BalloonRect bounds = {0, 0, GetSystemMetrics(SM_CXFULLSCREEN),
                          GetSystemMetrics(SM_CYFULLSCREEN)};
    return ChooseTailSide(bounds, anchorX, anchorY);
}

bool Screenshot::Take() {
    return Take(0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
}

bool Screenshot::Take(int left, int top, int w, int h) {
    width = w;
    height = h;
    pixels.clear();
    if (width <= 0 || height <= 0) return false;
    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = width;
    bi.bmiHeader.biHeight = -height;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP dib = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool ok = dib && bits;
    if (ok) {
        HGDIOBJ old = SelectObject(mem, dib);
        ok = BitBlt(mem, 0, 0, width, height, screen, left, top, SRCCOPY) != FALSE;
        GdiFlush();
        pixels.resize(static_cast<size_t>(width) * height);
        const unsigned char* p = static_cast<const unsigned char*>(bits);
        for (size_t i = 0; i < pixels.size(); ++i)
            pixels[i] = RGB(p[4 * i + 2], p[4 * i + 1], p[4 * i]);
        SelectObject(mem, old);
    }
    if (dib) DeleteObject(dib);
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
    return ok;
}

namespace {

unsigned long Crc(const unsigned char* data, size_t n, unsigned long crc = 0) {
    static unsigned long table[256];
    if (!table[1])
        for (unsigned long i = 0; i < 256; ++i) {
            unsigned long c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320UL ^ (c >> 1) : c >> 1;
            table[i] = c;
        }
    crc ^= 0xFFFFFFFFUL;
    for (size_t i = 0; i < n; ++i)
        crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFUL;
}

void Put32(std::vector<unsigned char>& out, unsigned long v) {
    for (int s = 24; s >= 0; s -= 8)
        out.push_back(static_cast<unsigned char>(v >> s));
}

void Chunk(std::vector<unsigned char>& out, const char* type,
           const std::vector<unsigned char>& data) {
    Put32(out, static_cast<unsigned long>(data.size()));
    std::vector<unsigned char> body(type, type + 4);
    body.insert(body.end(), data.begin(), data.end());
    out.insert(out.end(), body.begin(), body.end());
    Put32(out, Crc(body.data(), body.size()));
}

} // namespace

bool Screenshot::SavePng(const std::string& path) const {
    // Uncompressed deflate blocks: large files, but no library needed.
    std::vector<unsigned char> raw;
    raw.reserve(static_cast<size_t>(height) * (width * 3 + 1));
    for (int y = 0; y < height; ++y) {
        raw.push_back(0);
        for (int x = 0; x < width; ++x) {
            COLORREF c = At(x, y);
            raw.push_back(GetRValue(c));
            raw.push_back(GetGValue(c));
            raw.push_back(GetBValue(c));
        }
    }
    std::vector<unsigned char> z = {0x78, 0x01};
    size_t pos = 0;
    unsigned long a = 1, b = 0;
    for (unsigned char c : raw)
        a = (a + c) % 65521, b = (b + a) % 65521;
    do {
        size_t n = raw.size() - pos < 65535 ? raw.size() - pos : 65535;
        z.push_back(pos + n == raw.size() ? 1 : 0);
        z.push_back(n & 0xFF);
        z.push_back(n >> 8);
        z.push_back(~n & 0xFF);
        z.push_back((~n >> 8) & 0xFF);
        z.insert(z.end(), raw.begin() + pos, raw.begin() + pos + n);
        pos += n;
    } while (pos < raw.size());
    Put32(z, (b << 16) | a);

    std::vector<unsigned char> header;
    Put32(header, width);
    Put32(header, height);
    header.insert(header.end(), {8, 2, 0, 0, 0});
    std::vector<unsigned char> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    Chunk(out, "IHDR", header);
    Chunk(out, "IDAT", z);
    Chunk(out, "IEND", {});
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = fwrite(out.data(), 1, out.size(), f) == out.size();
    return fclose(f) == 0 && ok;
}

std::string ArtifactPath(const char* name) {
    char dir[MAX_PATH] = "";
    DWORD n = GetEnvironmentVariableA("ZLV_ARTIFACTS", dir, sizeof dir);
    if (n == 0 || n >= sizeof dir) return name;
    std::string path = dir;
    if (path[0] == '/') {
        for (char& c : path)
            if (c == '/') c = '\\';
        path = "Z:" + path;
    }
    CreateDirectoryA(path.c_str(), nullptr);
    return path + "\\" + name;
}

bool Near(COLORREF a, COLORREF b, int tolerance) {
    return abs(GetRValue(a) - GetRValue(b)) <= tolerance &&
           abs(GetGValue(a) - GetGValue(b)) <= tolerance &&
           abs(GetBValue(a) - GetBValue(b)) <= tolerance;
}

std::string ColourText(COLORREF c) {
    char text[32];
    snprintf(text, sizeof text, "RGB(%d, %d, %d)", GetRValue(c), GetGValue(c), GetBValue(c));
    return text;
}

void BalloonTest::HideAllBalloons_() {
    HideAllBalloons();
}
long BalloonTest::LiveObjects_() {
    return LiveBalloonObjects();
}

void ShowTestBalloon(const char* title, const char* text, int x, int y, UINT timeoutMs,
                     HBITMAP normal, HBITMAP hot, HBITMAP pressed) {
    ShowBalloon(title, text, x, y, kInformationIcon, BalloonCloseBox, nullptr, timeoutMs, normal,
                hot, pressed);
}

HWND NewestBalloon() {
    std::vector<HWND> open = OpenBalloons();
    return open.empty() ? nullptr : open.back();
}

LRESULT Mouse(HWND w, UINT message, int x, int y) {
    WPARAM keys = message == WM_LBUTTONDOWN || message == WM_MOUSEMOVE ? MK_LBUTTON : 0;
    return SendMessageA(w, message, keys, MAKELPARAM(x, y));
}
