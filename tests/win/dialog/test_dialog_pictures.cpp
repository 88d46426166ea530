#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "conduit/resources/dialog_ids.h"
#include "tests/win/common/resource_counts.h"
#include "tests/win/dialog/dialog_harness.h"

namespace {

const int kPictures[] = {IDC_PICTURE_SYNC, IDC_PICTURE_UPDATE, IDC_PICTURE_OVERWRITE,
                         IDC_PICTURE_NOTHING};
const int kBitmaps[] = {IDB_ACTION_SYNC, IDB_ACTION_UPDATE, IDB_ACTION_OVERWRITE,
                        IDB_ACTION_NOTHING};

HBITMAP Held(HWND dialog, int id) {
    return reinterpret_cast<HBITMAP>(
        SendDlgItemMessageA(dialog, id, STM_GETIMAGE, IMAGE_BITMAP, 0));
}

// Pixels as 0x00RRGGBB, top row first.
std::vector<COLORREF> PixelsOf(HBITMAP bitmap, int* width, int* height) {
    BITMAP info = {};
    GetObjectA(bitmap, sizeof info, &info);
    *width = info.bmWidth;
    *height = info.bmHeight;
    std::vector<COLORREF> px(static_cast<size_t>(info.bmWidth) * info.bmHeight);
    BITMAPINFO bi = {};
    bi.bmiHeader = {
        sizeof bi.bmiHeader, info.bmWidth, -info.bmHeight, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    HDC dc = GetDC(nullptr);
    GetDIBits(dc, bitmap, 0, info.bmHeight, px.data(), &bi, DIB_RGB_COLORS);
    ReleaseDC(nullptr, dc);
    for (COLORREF& c : px)
        c &= 0xFFFFFF;
    return px;
}

COLORREF AsPixel(COLORREF c) {
    return (GetRValue(c) << 16) | (GetGValue(c) << 8) | GetBValue(c);
}

// Every picture equals its resource with the light grey, and only that, in the face colour.
void ExpectPicturesIn(HWND dialog, COLORREF face) {
    for (int i = 0; i < 4; ++i) {
        HBITMAP original = LoadBitmapA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(kBitmaps[i]));
        int w, h, ow, oh;
        std::vector<COLORREF> shown = PixelsOf(Held(dialog, kPictures[i]), &w, &h);
        std::vector<COLORREF> drawn = PixelsOf(original, &ow, &oh);
        DeleteObject(original);
        ASSERT_EQ(48, w);
        ASSERT_EQ(24, h);
        ASSERT_EQ(drawn.size(), shown.size());
        size_t background = 0, wrong = 0;
        for (size_t p = 0; p < drawn.size(); ++p) {
            bool grey = drawn[p] == 0xC0C0C0;
            background += grey;
            wrong += shown[p] != (grey ? AsPixel(face) : drawn[p]);
        }
        EXPECT_GT(background, drawn.size() / 4) << "picture " << kBitmaps[i];
        EXPECT_LT(background, drawn.size()) << "picture " << kBitmaps[i] << " has no drawing";
        EXPECT_EQ(0u, wrong) << "picture " << kBitmaps[i];
    }
}

TEST(DialogPictures, BackgroundFollowsTheButtonFace) {
    const COLORREF face = GetSysColor(COLOR_BTNFACE);
    SettingsRecord r;
    RunSettingsDialog(IDD_SETTINGS, &r, [&](HWND d) {
        ExpectPicturesIn(d, face);

        INT element = COLOR_BTNFACE;
        COLORREF odd = RGB(0x12, 0x80, 0x34);
        SetSysColors(1, &element, &odd);
        SendMessageA(d, WM_SYSCOLORCHANGE, 0, 0);
        ExpectPicturesIn(d, odd);
        SetSysColors(1, &element, &face);
        SendMessageA(d, WM_SYSCOLORCHANGE, 0, 0);
        ExpectPicturesIn(d, face);
        Command(d, IDCANCEL);
    });
}

TEST(DialogPictures, RecolouringLeaksNoGdiObjects) {
    const DWORD counted = GdiObjectCount();
    ASSERT_NE(0u, counted) << "no way to count this process's GDI objects";
    HBITMAP extra = CreateBitmap(4, 4, 1, 1, nullptr);
    EXPECT_EQ(counted + 1, GdiObjectCount()) << "the count does not see a new bitmap";
    DeleteObject(extra);

    std::vector<HBITMAP> replaced, lastHeld;
    SettingsRecord r;
    for (int round = 0; round < 3; ++round) { // the first opening may warm up system caches
        DWORD beforeOpen = GdiObjectCount();
        RunSettingsDialog(IDD_SETTINGS, &r, [&](HWND d) {
            DWORD before = GdiObjectCount();
            for (int i = 0; i < 50; ++i) {
                for (int id : kPictures)
                    replaced.push_back(Held(d, id));
                SendMessageA(d, WM_SYSCOLORCHANGE, 0, 0);
            }
            const DWORD after = GdiObjectCount();
            EXPECT_EQ(before, after) << "after 50 colour changes";
            ::testing::Test::RecordProperty("gdi_objects_open", static_cast<int>(after));
            lastHeld.clear();
            for (int id : kPictures) {
                lastHeld.push_back(Held(d, id));
                EXPECT_EQ(OBJ_BITMAP, static_cast<int>(GetObjectType(lastHeld.back())));
            }
            Command(d, IDOK);
        });
        if (round > 0) {
            EXPECT_EQ(beforeOpen, GdiObjectCount()) << "after closing the dialog";
        }
    }
    for (HBITMAP b : replaced)
        EXPECT_EQ(0u, GetObjectType(b)) << "a replaced picture lives on";
    for (HBITMAP b : lastHeld)
        EXPECT_EQ(0u, GetObjectType(b)) << "a closed dialog's picture lives on";
}

} // namespace
