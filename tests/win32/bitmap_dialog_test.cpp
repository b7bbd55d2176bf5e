// The skinned dialog base: background painting, transparent statics, dragging, the window
// shape, centring and the skin set-up helpers.
#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>

#include <functional>
#include <thread>

#include "framework/app.h"
#include "ui/controls/bitmap_dialog.h"
#include "support/dialog_template.h"
#include "support/skin_files.h"

namespace {

constexpr WORD kLabel = 100;
constexpr WORD kTrackbar = 101;
constexpr WORD kEdit = 102;

DialogTemplate SkinTemplate()
{
    DialogTemplate t(WS_POPUP | WS_VISIBLE, 0, 0, 200, 120);
    t.Add(kLabel, L"STATIC", L"label", WS_VISIBLE, 10, 10, 80, 10);
    t.Add(kTrackbar, L"msctls_trackbar32", L"", WS_VISIBLE, 10, 30, 80, 15);
    t.Add(kEdit, L"EDIT", L"", WS_VISIBLE | WS_BORDER, 10, 50, 80, 12);
    return t;
}

class SkinDialog : public CBitmapDialog {
public:
    SkinDialog() : CBitmapDialog(0, nullptr) {}
    std::function<void(SkinDialog&)> onInit;

protected:
    BOOL OnInitDialog() override
    {
        CBitmapDialog::OnInitDialog();
        if (onInit) onInit(*this);
        return TRUE;
    }
};

struct MemoryCanvas {
    MemoryCanvas(int width, int height, COLORREF fill) : dc(nullptr)
    {
        HDC screen = GetDC(nullptr);
        bitmap.CreateCompatibleBitmap(screen, width, height);
        ReleaseDC(nullptr, screen);
        selection = SelectObject(dc, bitmap);
        RECT all{0, 0, width, height};
        dc.FillSolidRect(all, fill);
    }
    ~MemoryCanvas() { SelectObject(dc, selection); }
    CCompatibleDC dc;
    CBitmap bitmap;
    HGDIOBJ selection;
};

class BitmapDialogTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { AfxWinInit(GetModuleHandleW(nullptr), nullptr, nullptr, SW_SHOW); }
    ScratchFolder folder{L"bitmap-dialog"};
};

TEST_F(BitmapDialogTest, SmallBackgroundIsDrawnUnscaledFromTheTopLeft)
{
    // 50 x 40: red with a blue bottom-right pixel; the client area is much larger.
    ASSERT_TRUE(WriteBitmapFile(folder.Image(L"Small.bmp"), 50, 40, [](int x, int y) {
        return (x == 49 && y == 39) ? RGB(0, 0, 255) : RGB(255, 0, 0);
    }));
    DialogTemplate t = SkinTemplate();
    SkinDialog dialog;
    ASSERT_TRUE(dialog.CreateIndirect(t.Get()));
    EXPECT_TRUE(dialog.SetSkinBackground(kSkinSmallBackground));
    EXPECT_TRUE(dialog.m_bHasBackground);
    EXPECT_TRUE(dialog.m_bOwnsBackground);

    RECT client{};
    dialog.GetClientRect(&client);
    ASSERT_GT(client.right, 100);
    ASSERT_GT(client.bottom, 80);
    MemoryCanvas canvas(client.right, client.bottom, RGB(0, 255, 0));
    EXPECT_EQ(dialog.SendMessage(WM_ERASEBKGND, reinterpret_cast<WPARAM>(canvas.dc.m_hDC)), TRUE);
    EXPECT_EQ(GetPixel(canvas.dc, 0, 0), RGB(255, 0, 0));
    EXPECT_EQ(GetPixel(canvas.dc, 48, 38), RGB(255, 0, 0));
    EXPECT_EQ(GetPixel(canvas.dc, 49, 39), RGB(0, 0, 255));
    // Not stretched: a doubled image would put the blue pixel here.
    EXPECT_NE(GetPixel(canvas.dc, 99, 79), RGB(0, 0, 255));
    EXPECT_NE(GetPixel(canvas.dc, 98, 78), RGB(0, 0, 255));
    // Beyond the image: the ordinary dialog background, not black or leftover pixels.
    EXPECT_EQ(GetPixel(canvas.dc, 60, 20), GetSysColor(COLOR_3DFACE));
    EXPECT_EQ(GetPixel(canvas.dc, client.right - 1, client.bottom - 1), GetSysColor(COLOR_3DFACE));
    dialog.DestroyWindow();
}

TEST_F(BitmapDialogTest, MissingSecondBackgroundLeavesNone)
{
    ASSERT_TRUE(WriteBitmapFile(folder.Image(L"Small.bmp"), 8, 8, [](int, int) { return RGB(1, 2, 3); }));
    DialogTemplate t = SkinTemplate();
    SkinDialog dialog;
    ASSERT_TRUE(dialog.CreateIndirect(t.Get()));
    EXPECT_TRUE(dialog.SetSkinBackground(kSkinSmallBackground));
    EXPECT_FALSE(dialog.SetSkinBackground(L"\\Images\\NoSuchFile.bmp"));
    EXPECT_FALSE(dialog.m_bHasBackground);
    EXPECT_FALSE(dialog.m_bOwnsBackground);
    EXPECT_EQ(dialog.m_pBackground, nullptr);
    // The erase is then the dialog manager's: not our background colour.
    MemoryCanvas canvas(20, 20, RGB(0, 255, 0));
    dialog.SendMessage(WM_ERASEBKGND, reinterpret_cast<WPARAM>(canvas.dc.m_hDC));
    EXPECT_NE(GetPixel(canvas.dc, 1, 1), RGB(1, 2, 3));
    dialog.DestroyWindow();
}

TEST_F(BitmapDialogTest, ImagePathLongerThanItsBufferIsRefused)
{
    // A current directory whose image paths would pass 259 characters, with the image present.
    std::wstring deep = folder.Path();
    while (deep.size() < 245) {
        deep += L"\\" + std::wstring(std::min<size_t>(40, 245 - deep.size()), L'd');
        CreateDirectoryW((L"\\\\?\\" + deep).c_str(), nullptr);
    }
    CreateDirectoryW((L"\\\\?\\" + deep + L"\\Images").c_str(), nullptr);
    ASSERT_TRUE(WriteBitmapFile(L"\\\\?\\" + deep + L"\\Images\\Small.bmp", 8, 8, [](int, int) { return RGB(1, 2, 3); }));
    ASSERT_TRUE(SetCurrentDirectoryW(deep.c_str()));
    EXPECT_EQ(CBitmapDialog::SkinImagePath(kSkinSmallBackground), L"");

    DialogTemplate t = SkinTemplate();
    SkinDialog dialog;
    ASSERT_TRUE(dialog.CreateIndirect(t.Get()));
    EXPECT_FALSE(dialog.SetSkinBackground(kSkinSmallBackground));
    EXPECT_FALSE(dialog.m_bHasBackground);
    dialog.DestroyWindow();
    SetCurrentDirectoryW(folder.Path().c_str());
    EXPECT_EQ(CBitmapDialog::SkinImagePath(kSkinSmallBackground), folder.Path() + L"\\Images\\Small.bmp");
}

TEST_F(BitmapDialogTest, StaticsAreTransparentExceptTrackbars)
{
    DialogTemplate t = SkinTemplate();
    SkinDialog dialog;
    ASSERT_TRUE(dialog.CreateIndirect(t.Get()));
    HDC dc = GetDC(dialog.m_hWnd);
    auto ask = [&](UINT message, WORD id) {
        SetBkMode(dc, OPAQUE);
        return reinterpret_cast<HBRUSH>(dialog.SendMessage(
            message, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(GetDlgItem(dialog.m_hWnd, id))));
    };
    HBRUSH nullBrush = static_cast<HBRUSH>(GetStockObject(NULL_BRUSH));

    EXPECT_EQ(ask(WM_CTLCOLORSTATIC, kLabel), nullBrush);
    EXPECT_EQ(GetBkMode(dc), TRANSPARENT);

    HBRUSH trackbar = ask(WM_CTLCOLORSTATIC, kTrackbar);
    EXPECT_NE(trackbar, nullBrush);
    EXPECT_NE(trackbar, nullptr);
    EXPECT_EQ(GetBkMode(dc), OPAQUE);

    HBRUSH edit = ask(WM_CTLCOLOREDIT, kEdit);
    EXPECT_NE(edit, nullBrush);
    EXPECT_EQ(GetBkMode(dc), OPAQUE);

    dialog.m_bTransparentStatics = FALSE;
    EXPECT_NE(ask(WM_CTLCOLORSTATIC, kLabel), nullBrush);
    EXPECT_EQ(GetBkMode(dc), OPAQUE);
    ReleaseDC(dialog.m_hWnd, dc);
    dialog.DestroyWindow();
}

TEST_F(BitmapDialogTest, PressOnTheBackgroundPostsACaptionDrag)
{
    DialogTemplate t = SkinTemplate();
    SkinDialog dialog;
    ASSERT_TRUE(dialog.CreateIndirect(t.Get()));
    PumpMessages();
    MSG posted{};
    dialog.SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(150, 120));
    EXPECT_FALSE(PeekMessageW(&posted, dialog.m_hWnd, WM_NCLBUTTONDOWN, WM_NCLBUTTONDOWN, PM_REMOVE));

    dialog.EnableSkinBehaviour();
    dialog.SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(150, 120));
    ASSERT_TRUE(PeekMessageW(&posted, dialog.m_hWnd, WM_NCLBUTTONDOWN, WM_NCLBUTTONDOWN, PM_REMOVE));
    EXPECT_EQ(posted.wParam, static_cast<WPARAM>(HTCAPTION));
    dialog.DestroyWindow();
}

// Real mouse input: press on the background, move, release; the window follows the mouse.
TEST_F(BitmapDialogTest, DraggingTheBackgroundMovesTheWindow)
{
    DialogTemplate t = SkinTemplate();
    SkinDialog dialog;
    ASSERT_TRUE(dialog.CreateIndirect(t.Get()));
    dialog.EnableSkinBehaviour();
    dialog.SetWindowPos(&CWnd::wndTop, 200, 150, 0, 0, SWP_NOSIZE);
    SetForegroundWindow(dialog.m_hWnd);
    PumpMessages();
    RECT before{};
    dialog.GetWindowRect(&before);
    POINT start{before.left + 250, before.top + 150};  // right part: no control there
    ASSERT_EQ(ChildWindowFromPoint(dialog.m_hWnd, POINT{250, 150}), dialog.m_hWnd);

    DWORD uiThread = GetCurrentThreadId();
    std::atomic<bool> done{false};
    bool followed = true;
    int lostStep = 0;
    std::thread mouse([&] {
        int width = GetSystemMetrics(SM_CXSCREEN), height = GetSystemMetrics(SM_CYSCREEN);
        auto send = [&](DWORD flags, int x, int y) {
            INPUT input{};
            input.type = INPUT_MOUSE;
            input.mi.dx = x * 65535 / (width - 1);
            input.mi.dy = y * 65535 / (height - 1);
            input.mi.dwFlags = flags | MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_MOVE;
            SendInput(1, &input, sizeof(input));
        };
        send(0, start.x, start.y);
        send(MOUSEEVENTF_LEFTDOWN, start.x, start.y);
        // The move loop runs on the dialog's thread once the posted caption press arrives.
        GUITHREADINFO info{};
        info.cbSize = sizeof(info);
        const ULONGLONG end = GetTickCount64() + e2e::WaitLimitMs();
        while (!(GetGUIThreadInfo(uiThread, &info) && (info.flags & GUI_INMOVESIZE)) && GetTickCount64() < end)
            Sleep(5);
        // Each move is sent once the window has followed the one before: the release ends the
        // loop at once, and a loaded machine now and then let it see the release before the last
        // move, so the window stopped a step short.
        for (int step = 1; step <= 4 && followed; ++step) {
            send(0, start.x + step * 10, start.y + step * 8);
            followed = WaitUntil([&] {
                RECT now{};
                GetWindowRect(dialog.m_hWnd, &now);
                return now.left == before.left + step * 10 && now.top == before.top + step * 8;
            });
            if (!followed) lostStep = step;
        }
        send(MOUSEEVENTF_LEFTUP, start.x + 40, start.y + 32);
        done = true;
    });
    bool moved = WaitUntil([&] {
        RECT now{};
        dialog.GetWindowRect(&now);
        return done && now.left == before.left + 40 && now.top == before.top + 32;
    });
    mouse.join();
    RECT after{};
    dialog.GetWindowRect(&after);
    EXPECT_TRUE(followed) << "the window did not follow move " << lostStep;
    EXPECT_TRUE(moved) << "window at " << after.left << "," << after.top << " from " << before.left << ","
                       << before.top;
    dialog.DestroyWindow();
}

TEST_F(BitmapDialogTest, RoundedRegionAndCentring)
{
    DialogTemplate t = SkinTemplate();
    SkinDialog dialog;
    ASSERT_TRUE(dialog.CreateIndirect(t.Get()));
    RECT window{};
    dialog.GetWindowRect(&window);
    int width = window.right - window.left, height = window.bottom - window.top;

    dialog.ApplyRoundedRegion();
    HRGN shape = CreateRectRgn(0, 0, 0, 0);
    ASSERT_NE(GetWindowRgn(dialog.m_hWnd, shape), ERROR);
    HRGN expected = CreateRoundRectRgn(0, 0, width, height, 21, 21);
    // The corners follow the 21 x 21 ellipse: every point along the top-left and bottom-right
    // corner squares agrees with a round-rect region of the window's size.
    int mismatches = 0;
    for (int y = 0; y < 12; ++y)
        for (int x = 0; x < 12; ++x) {
            mismatches += PtInRegion(shape, x, y) != PtInRegion(expected, x, y);
            mismatches += PtInRegion(shape, width - 1 - x, height - 1 - y) !=
                          PtInRegion(expected, width - 1 - x, height - 1 - y);
        }
    EXPECT_EQ(mismatches, 0);
    RECT box{}, expectedBox{};
    GetRgnBox(shape, &box);
    GetRgnBox(expected, &expectedBox);
    EXPECT_TRUE(EqualRect(&box, &expectedBox));
    EXPECT_FALSE(PtInRegion(shape, 0, 0));
    EXPECT_FALSE(PtInRegion(shape, width - 1, height - 1));
    EXPECT_TRUE(PtInRegion(shape, width / 2, 0));
    EXPECT_TRUE(PtInRegion(shape, width / 2, height / 2));
    dialog.ResetWindowRegion();
    GetWindowRgn(dialog.m_hWnd, shape);
    EXPECT_TRUE(PtInRegion(shape, 0, 0));
    DeleteObject(expected);
    DeleteObject(shape);

    // Centred on a reference window, by the client size; no reference: not moved.
    HWND reference = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 101, 51, 401, 301, nullptr, nullptr, nullptr, nullptr);
    dialog.CenterOnWindow(reference);
    RECT client{};
    dialog.GetClientRect(&client);
    RECT placed{};
    dialog.GetWindowRect(&placed);
    EXPECT_EQ(placed.left, (101 + 502) / 2 - client.right / 2);
    EXPECT_EQ(placed.top, (51 + 352) / 2 - client.bottom / 2);
    EXPECT_EQ(placed.right - placed.left, width);
    dialog.CenterOnWindow(static_cast<HWND>(nullptr));
    RECT unchanged{};
    dialog.GetWindowRect(&unchanged);
    EXPECT_EQ(unchanged.left, placed.left);
    EXPECT_EQ(unchanged.top, placed.top);
    DestroyWindow(reference);
    dialog.DestroyWindow();
}

TEST_F(BitmapDialogTest, FontsTextsAndBrushesLiveWithTheDialog)
{
    DialogTemplate t = SkinTemplate();
    HFONT created = nullptr;
    HBRUSH cream = nullptr;
    {
        SkinDialog dialog;
        ASSERT_TRUE(dialog.CreateIndirect(t.Get()));
        CFont* bold = dialog.CreateSkinFont(14, 700, L"Verdana");
        ASSERT_NE(bold, nullptr);
        created = *bold;
        LOGFONTW font{};
        bold->GetLogFont(&font);
        EXPECT_EQ(font.lfHeight, 14);
        EXPECT_EQ(font.lfWeight, 700);
        EXPECT_STREQ(font.lfFaceName, L"Verdana");
        EXPECT_EQ(font.lfItalic, 0);
        EXPECT_EQ(font.lfCharSet, 0);

        dialog.SetSkinText(kLabel, L"Installing", bold);
        EXPECT_EQ(dialog.GetDlgItem(kLabel)->GetWindowText(), L"Installing");
        EXPECT_EQ(dialog.GetDlgItem(kLabel)->GetFont(), created);

        cream = dialog.SolidBrush(RGB(255, 247, 206));
        EXPECT_EQ(dialog.SolidBrush(RGB(255, 247, 206)), cream);
        EXPECT_NE(dialog.SolidBrush(RGB(231, 82, 0)), cream);
        LOGBRUSH info{};
        GetObjectW(cream, sizeof(info), &info);
        EXPECT_EQ(info.lbColor, RGB(255, 247, 206));
        dialog.DestroyWindow();
        EXPECT_NE(GetObjectType(created), 0u);
    }
    EXPECT_EQ(GetObjectType(created), 0u);
    EXPECT_EQ(GetObjectType(cream), 0u);
}

}  // namespace
