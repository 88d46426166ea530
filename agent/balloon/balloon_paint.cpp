// The balloon's looks: its measured rows, its shape with the tail, the gradient, the outline and
// the close box. The window's life and its input are in balloon_window.cpp.
#include "agent/balloon/balloon_window.h"

#include "agent/balloon/keyed_blit.h"
#include "agent/owners.h"

namespace {

RECT ToRect(const BalloonRect& r) {
    RECT out = {r.left, r.top, r.right, r.bottom};
    return out;
}

} // namespace

void BalloonWindow::SetIcon(UINT id) {
    HICON icon = LoadIconA(nullptr, MAKEINTRESOURCEA(id)); // shared: not destroyed
    if (!icon) return;
    int cx = GetSystemMetrics(SM_CXICON), cy = GetSystemMetrics(SM_CYICON);
    if (cx <= 0 || cy <= 0) return;

    ScopedGetDC screen(nullptr);
    if (!screen.Held()) return;
    ScopedMemDC bigDC(CreateCompatibleDC(screen.Get()));
    ScopedBitmap big(CreateCompatibleBitmap(screen.Get(), cx, cy));
    ScopedBrush back(CreateSolidBrush(backColour));
    if (!bigDC.Held() || !big.Held() || !back.Held()) return;
    {
        ScopedSelect select(bigDC.Get(), big.Get());
        RECT all = {0, 0, cx, cy};
        FillRect(bigDC.Get(), &all, back.Get());
        DrawIconEx(bigDC.Get(), 0, 0, icon, 0, 0, 0, back.Get(), DI_NORMAL);
    }

    HDC smallDC = nullptr;
    HBITMAP small = nullptr;
    HGDIOBJ previous = nullptr;
    // Made aside, so that a failure keeps the icon shown until now.
    if (!MakeBitmapDC(screen.Get(), kIconSize, kIconSize, smallDC, small, previous)) return;
    {
        ScopedSelect select(bigDC.Get(), big.Get());
        SetStretchBltMode(smallDC, HALFTONE);
        SetBrushOrgEx(smallDC, 0, 0, nullptr);
        StretchBlt(smallDC, 0, 0, kIconSize, kIconSize, bigDC.Get(), 0, 0, cx, cy, SRCCOPY);
    }
    ReleaseIcon();
    iconDC = smallDC;
    iconBitmap = small;
    iconDCPrevious = previous;
}

int BalloonWindow::MeasureTitleRow(HDC dc, bool draw, int* height) {
    char shown[kTitleLimit + 1] = "";
    if (window) GetWindowTextA(window, shown, sizeof shown);
    bool closeBox = (options & BalloonCloseBox) != 0;
    int cxSize = GetSystemMetrics(SM_CXSIZE), cySize = GetSystemMetrics(SM_CYSIZE);

    int titleWidth = -1, titleHeight = 0;
    if (shown[0]) {
        ScopedSelect font(dc, titleFont);
        RECT r = {0, 0, 0, 0};
        DrawTextA(dc, shown, -1, &r, DT_CALCRECT | DT_NOPREFIX | DT_EXPANDTABS | DT_SINGLELINE);
        titleWidth = r.right - r.left;
        titleHeight = r.bottom - r.top;
    }
    *height = TitleRowHeight(tailSide, closeBox, cySize, titleHeight);
    if (draw) {
        BalloonRect content = ContentRect(ClientArea(), tailSide);
        if (closeBox) {
            DrawCloseBox(dc, CloseAway);
            // What is on screen now is the away look; a press in progress stays recorded.
            closeState = CloseAway | (closeState & ClosePressed);
            content.right -= cxSize;
        }
        if (shown[0]) {
            ScopedSelect font(dc, titleFont);
            SetTextColor(dc, textColour);
            SetBkMode(dc, TRANSPARENT);
            RECT r = ToRect(content);
            DrawTextA(dc, shown, -1, &r, DT_NOPREFIX | DT_EXPANDTABS | DT_SINGLELINE | DT_CENTER);
        }
        if (iconDC)
            BitBlt(dc, content.left, content.top, kIconSize, kIconSize, iconDC, 0, 0, SRCCOPY);
    }
    return TitleRowWidth(closeBox, cxSize, titleWidth);
}

void BalloonWindow::MeasureBody(HDC dc, bool draw, int top, int* width, int* height) {
    *width = 0;
    *height = 0;
    if (!text) return;
    BalloonRect b = Bounds();
    ScopedSelect font(dc, textFont);
    RECT r = {8, top, MessageWrapRight(b.right - b.left), top};
    const UINT flags = DT_NOPREFIX | DT_EXPANDTABS | DT_WORDBREAK;
    DrawTextA(dc, text, -1, &r, flags | DT_CALCRECT);
    *width = r.right - r.left;
    *height = r.bottom - r.top;
    if (draw) {
        RECT area = {8, top, MessageWrapRight(b.right - b.left), ClientArea().bottom};
        SetTextColor(dc, textColour);
        SetBkMode(dc, TRANSPARENT);
        DrawTextA(dc, text, -1, &area, flags);
    }
}

void BalloonWindow::Layout() {
    if (!window) return;
    SetRectEmpty(&bounds);
    BalloonRect b = Bounds();
    int ax, ay;
    ScreenAnchor(&ax, &ay);
    tailSide = ChooseTailSide(b, ax, ay);

    int rowWidth, rowHeight, bodyWidth, bodyHeight;
    {
        ScopedGetDC dc(window);
        if (!dc.Held()) return;
        rowWidth = MeasureTitleRow(dc.Get(), false, &rowHeight);
        MeasureBody(dc.Get(), false, 0, &bodyWidth, &bodyHeight);
    }
    BalloonPlacement p = PlaceBalloon(tailSide, rowWidth, rowHeight, bodyWidth,
                                      MessageRowHeight(tailSide, bodyHeight), ax, ay, b);
    SetWindowPos(window, nullptr, p.x, p.y, p.width, p.height,
                 SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOOWNERZORDER);

    POINT tail[3];
    for (int i = 0; i < 3; ++i)
        tail[i].x = p.tail[i].x, tail[i].y = p.tail[i].y;
    BalloonRect body = BodyRect(tailSide, p.width, p.height);
    ScopedRegion triangle(CreatePolygonRgn(tail, 3, ALTERNATE));
    ScopedRegion rounded(CreateRoundRectRgn(body.left, body.top, body.right, body.bottom,
                                            kCornerDiameter, kCornerDiameter));
    ScopedRegion shape(CreateRectRgn(0, 0, 0, 0));
    ScopedRegion copy(CreateRectRgn(0, 0, 0, 0));
    if (!triangle.Held() || !rounded.Held() || !shape.Held() || !copy.Held()) return;
    if (CombineRgn(shape.Get(), triangle.Get(), rounded.Get(), RGN_OR) == ERROR) return;
    if (CombineRgn(copy.Get(), shape.Get(), nullptr, RGN_COPY) == ERROR) return;

    bool changed = !region || !EqualRgn(region, copy.Get());
    // The window owns the region it is given; we keep our own copy for the outline.
    if (SetWindowRgn(window, shape.Get(), TRUE)) shape.Detach();
    FreeGdiObject(region);
    region = copy.Detach();
    if (changed)
        RedrawWindow(window, nullptr, nullptr,
                     RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
}

void BalloonWindow::OnEraseBackground(HDC dc) {
    RECT client;
    GetClientRect(window, &client);
    BalloonColour last = 0;
    ScopedBrush brush;
    for (int i = 0; i < kGradientBands; ++i) {
        RECT band = {2, BandTop(i, client.bottom), client.right, BandTop(i + 1, client.bottom)};
        if (band.top >= band.bottom) continue;
        BalloonColour colour = GradientBandColour(backColour, i);
        if (!brush.Held() || colour != last) {
            brush.Reset(CreateSolidBrush(colour));
            last = colour;
        }
        if (brush.Held()) FillRect(dc, &band, brush.Get());
    }
    brush.Reset();
    if (!region) return;

    if (options & BalloonShadow) {
        ScopedBrush light(CreateSolidBrush(LightRingColour(backColour)));
        ScopedBrush dark(CreateSolidBrush(DarkRingColour(backColour, textColour)));
        OffsetRgn(region, 1, 1);
        if (light.Held()) FrameRgn(dc, region, light.Get(), 2, 2);
        OffsetRgn(region, -2, -2);
        if (dark.Held()) FrameRgn(dc, region, dark.Get(), 2, 2);
        OffsetRgn(region, 1, 1);
    }
    ScopedBrush ink(CreateSolidBrush(textColour));
    if (ink.Held()) FrameRgn(dc, region, ink.Get(), 1, 1);
}

void BalloonWindow::OnPaint() {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(window, &ps);
    if (!dc) return;
    int rowHeight, width, height;
    MeasureTitleRow(dc, true, &rowHeight);
    MeasureBody(dc, true, rowHeight + 8, &width, &height);
    EndPaint(window, &ps);
}

void BalloonWindow::DrawCloseBox(HDC dc, unsigned look) {
    BalloonRect box = CloseBoxRect(ContentRect(ClientArea(), tailSide), GetSystemMetrics(SM_CXSIZE),
                                   GetSystemMetrics(SM_CYSIZE));
    if (closeBitmapNormal && closeBitmapHot && closeBitmapPressed) {
        HBITMAP bitmap = look == CloseAway   ? closeBitmapNormal
                         : look == CloseOver ? closeBitmapHot
                                             : closeBitmapPressed;
        BITMAP info;
        if (!GetObjectA(bitmap, sizeof info, &info)) return;
        ScopedMemDC mem(CreateCompatibleDC(dc));
        if (!mem.Held()) return;
        ScopedSelect select(mem.Get(), bitmap);
        COLORREF key = GetPixel(mem.Get(), 0, 0);
        KeyedBlit(dc, box.left, box.top, info.bmWidth, info.bmHeight, mem.Get(), key);
        return;
    }
    RECT r = ToRect(box);
    UINT state = DFCS_CAPTIONCLOSE;
    if (look == CloseAway)
        state |= DFCS_FLAT;
    else if (look == ClosePressed)
        state |= DFCS_PUSHED;
    DrawFrameControl(dc, &r, DFC_CAPTION, state);
}
