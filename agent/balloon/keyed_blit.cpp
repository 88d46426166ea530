#include "agent/balloon/keyed_blit.h"

#include "agent/owners.h"

namespace {

const COLORREF kWhite = RGB(255, 255, 255);
const COLORREF kBlack = RGB(0, 0, 0);

} // namespace

bool KeyedBlit(HDC target, int x, int y, int width, int height, HDC source, COLORREF key) {
    if (width <= 0 || height <= 0) return false;
    // The mask: a copy to one bit per pixel turns the source's background colour white and
    // everything else black.
    ScopedMemDC maskDC(CreateCompatibleDC(target));
    ScopedBitmap mask(CreateBitmap(width, height, 1, 1, nullptr));
    ScopedMemDC workDC(CreateCompatibleDC(target));
    ScopedBitmap work(CreateCompatibleBitmap(target, width, height));
    if (!maskDC.Held() || !mask.Held() || !workDC.Held() || !work.Held()) return false;
    ScopedSelect maskSelected(maskDC.Get(), mask.Get());
    ScopedSelect workSelected(workDC.Get(), work.Get());

    COLORREF sourceBack = SetBkColor(source, key);
    bool ok = BitBlt(maskDC.Get(), 0, 0, width, height, source, 0, 0, SRCCOPY) != 0;
    SetBkColor(source, sourceBack);

    // Put together aside and shown in one copy, so the screen never shows a half-drawn step:
    // target XOR source, then cleared outside the key (the mask's white reads as all ones, its
    // black as zeros), then XOR source again leaves the target under the key and the source
    // elsewhere.
    SetBkColor(workDC.Get(), kWhite);
    SetTextColor(workDC.Get(), kBlack);
    ok = ok && BitBlt(workDC.Get(), 0, 0, width, height, target, x, y, SRCCOPY) &&
         BitBlt(workDC.Get(), 0, 0, width, height, source, 0, 0, SRCINVERT) &&
         BitBlt(workDC.Get(), 0, 0, width, height, maskDC.Get(), 0, 0, SRCAND) &&
         BitBlt(workDC.Get(), 0, 0, width, height, source, 0, 0, SRCINVERT) &&
         BitBlt(target, x, y, width, height, workDC.Get(), 0, 0, SRCCOPY);
    return ok;
}
