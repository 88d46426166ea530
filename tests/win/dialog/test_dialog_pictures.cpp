#include <gtest/gtest.h>
#include <stdlib.h>

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

// The dialog as the screen shows it, saved as a 24-bit BMP for a person to look at.
void SaveScreenshot(HWND dialog, const char* name) {
    RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    GdiFlush();
    Sleep(300); // the display driver copies window surfaces to the X server on its own schedule
    RECT rc;
    GetWindowRect(dialog, &rc);
    const int w = rc.right - rc.left, h = rc.bottom - rc.top;
    const int stride = (w * 3 + 3) & ~3;
    std::vector<BYTE> bits(static_cast<size_t>(stride) * h);
    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    HBITMAP shot = CreateCompatibleBitmap(screen, w, h);
    HGDIOBJ old = SelectObject(mem, shot);
    BitBlt(mem, 0, 0, w, h, screen, rc.left, rc.top, SRCCOPY);
    SelectObject(mem, old);
    BITMAPINFOHEADER bih = {sizeof bih, w, h, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    GetDIBits(mem, shot, 0, h, bits.data(), reinterpret_cast<BITMAPINFO*>(&bih), DIB_RGB_COLORS);
    DeleteObject(shot);
    DeleteDC(mem);

    // On screen, the picture's corner shows the face colour, not the light grey of the resource.
    RECT pic;
    GetWindowRect(GetDlgItem(dialog, IDC_PICTURE_UPDATE), &pic);
    EXPECT_EQ(GetSysColor(COLOR_BTNFACE), GetPixel(screen, pic.left, pic.top)) << name;
    ReleaseDC(nullptr, screen);

    std::string dir = getenv("ZLV_ARTIFACTS") ? getenv("ZLV_ARTIFACTS") : "";
    if (!dir.empty() && dir[0] == '/') dir = "Z:" + dir;
    for (char& c : dir)
        if (c == '/') c = '\\';
    std::string path = (dir.empty() ? "" : dir + "\\") + name;
    BITMAPFILEHEADER bfh = {0x4D42, static_cast<DWORD>(sizeof bfh + sizeof bih + bits.size()), 0, 0,
                            sizeof bfh + sizeof bih};
    HANDLE f = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, f) << path;
    DWORD written = 0, total = 0;
    WriteFile(f, &bfh, sizeof bfh, &written, nullptr);
    total += written;
    WriteFile(f, &bih, sizeof bih, &written, nullptr);
    total += written;
    WriteFile(f, bits.data(), static_cast<DWORD>(bits.size()), &written, nullptr);
    total += written;
    CloseHandle(f);
    EXPECT_EQ(bfh.bfSize, total) << path;
}

TEST(DialogPictures, ScreenshotsOfBothDialogs) {
    StoreFlag("startup", "1\0\0", 4);
    StoreFlag("tooltip", "1\0\0", 4);
    SettingsRecord r;
    r.Set(kCreatorId, 0x5A4C5641);
    r.SetUserName("Kim Mueller", 11);
    r.Set(kDefaultType, 3);
    r.Set(kNextType, 3);
    RunSettingsDialog(IDD_SETTINGS, &r, [](HWND d) {
        SaveScreenshot(d, "settings_dialog_101.bmp");
        Command(d, IDCANCEL);
    });
    r.Set(kNextType, 6);
    RunSettingsDialog(IDD_SETTINGS_OLD, &r, [](HWND d) {
        Click(d, IDC_MAKE_DEFAULT);
        SaveScreenshot(d, "settings_dialog_399.bmp");
        Command(d, IDCANCEL);
    });
}

} // namespace
