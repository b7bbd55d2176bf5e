// The close-control button: its image states, the disabled flag, the fallbacks, its log lines,
// the release of its images, and its focus cue and Space key.
#include <windows.h>
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "framework/app.h"
#include "support/installer_log.h"
#include "ui/controls/bitmap_dialog.h"
#include "ui/controls/bmp_button.h"
#include "support/dialog_template.h"
#include "support/skin_files.h"

namespace {

constexpr WORD kClose = 1028;

class ButtonDialog : public CBitmapDialog {
public:
    ButtonDialog() : CBitmapDialog(0, nullptr) {}
    CBmpButton closeControl;
    int clicks = 0;

protected:
    void DoDataExchange(CDataExchange* exchange) override { DDX_Control(exchange, kClose, closeControl); }
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override
    {
        if (message == WM_COMMAND && LOWORD(wParam) == kClose && HIWORD(wParam) == STN_CLICKED) {
            ++clicks;
            return 0;
        }
        return CBitmapDialog::WindowProc(message, wParam, lParam);
    }
};

DialogTemplate ButtonTemplate()
{
    DialogTemplate t(WS_POPUP | WS_VISIBLE, 0, 0, 120, 60);
    t.Add(kClose, L"STATIC", L"", WS_VISIBLE | WS_TABSTOP | SS_NOTIFY | SS_BITMAP, 100, 3, 15, 13);
    return t;
}

class BmpButtonTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        AfxWinInit(GetModuleHandleW(nullptr), nullptr, nullptr, SW_SHOW);
    }
    void SetUp() override
    {
        const COLORREF colours[] = {RGB(200, 0, 0), RGB(0, 200, 0), RGB(0, 0, 200), RGB(90, 90, 90)};
        const wchar_t* names[] = {L"CancelButton.bmp", L"MouseOver.bmp", L"OnPress.bmp", L"Disabled.bmp"};
        for (int i = 0; i < 4; ++i)
            ASSERT_TRUE(WriteBitmapFile(folder.Image(names[i]), 20, 17, [&](int, int) { return colours[i]; }));
    }
    static COLORREF ImageColour(HBITMAP image)
    {
        CCompatibleDC dc(nullptr);
        CSelectObject selection(dc, image);
        return GetPixel(dc, 5, 5);
    }
    ScratchFolder folder{L"bmp-button"};
};

TEST_F(BmpButtonTest, ImagesFollowTheMouseUnlessDisabled)
{
    DialogTemplate t = ButtonTemplate();
    ButtonDialog dialog;
    ASSERT_TRUE(dialog.CreateIndirect(t.Get()));
    CBmpButton& button = dialog.closeControl;
    CBitmapDialog::LoadCloseControlImages(button);
    ASSERT_NE(button.m_hNormalImage, nullptr);
    EXPECT_EQ(ImageColour(button.m_hNormalImage), RGB(200, 0, 0));
    EXPECT_EQ(ImageColour(button.m_hPressedImage), RGB(0, 0, 200));
    EXPECT_EQ(button.GetBitmap(), button.m_hNormalImage);

    button.SendMessage(WM_MOUSEMOVE, 0, MAKELPARAM(3, 3));
    EXPECT_EQ(button.GetBitmap(), button.m_hMouseOverImage);
    button.SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(3, 3));
    EXPECT_EQ(button.GetBitmap(), button.m_hPressedImage);
    button.SendMessage(WM_LBUTTONUP, 0, MAKELPARAM(3, 3));
    EXPECT_EQ(button.GetBitmap(), button.m_hMouseOverImage);
    EXPECT_EQ(dialog.clicks, 1);  // the static's own click still reaches the parent

    // Disabled: the mouse leaves the image alone, the click still arrives; setting the flag
    // alone changes nothing, LoadBitmaps then shows the disabled image.
    button.m_bDisabled = TRUE;
    EXPECT_EQ(button.GetBitmap(), button.m_hMouseOverImage);
    button.SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(3, 3));
    button.SendMessage(WM_LBUTTONUP, 0, MAKELPARAM(3, 3));
    button.SendMessage(WM_MOUSEMOVE, 0, MAKELPARAM(4, 4));
    EXPECT_EQ(button.GetBitmap(), button.m_hMouseOverImage);
    EXPECT_EQ(dialog.clicks, 2);
    CBitmapDialog::LoadCloseControlImages(button);
    EXPECT_EQ(button.GetBitmap(), button.m_hDisabledImage);
    EXPECT_EQ(ImageColour(button.m_hDisabledImage), RGB(90, 90, 90));
    dialog.DestroyWindow();
}

TEST_F(BmpButtonTest, EmptyPathsFallBackToTheNormalFileAndMissingFilesShowNothing)
{
    DialogTemplate t = ButtonTemplate();
    ButtonDialog dialog;
    ASSERT_TRUE(dialog.CreateIndirect(t.Get()));
    CBmpButton& button = dialog.closeControl;
    button.LoadBitmaps(folder.Image(L"CancelButton.bmp"), L"", L"", L"");
    HBITMAP images[] = {button.m_hNormalImage, button.m_hMouseOverImage, button.m_hPressedImage,
                        button.m_hDisabledImage};
    for (int i = 0; i < 4; ++i) {
        ASSERT_NE(images[i], nullptr);
        EXPECT_EQ(ImageColour(images[i]), RGB(200, 0, 0));
        for (int j = 0; j < i; ++j) EXPECT_NE(images[i], images[j]);  // separate copies
    }

    button.LoadBitmaps(folder.Image(L"Gone.bmp"), L"", L"", L"");
    EXPECT_EQ(button.m_hNormalImage, nullptr);
    EXPECT_EQ(button.GetBitmap(), nullptr);
    for (HBITMAP old : images) EXPECT_EQ(GetObjectType(old), 0u);  // the earlier set was freed
    button.SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(3, 3));
    button.SendMessage(WM_LBUTTONUP, 0, MAKELPARAM(3, 3));
    EXPECT_EQ(dialog.clicks, 1);
    dialog.DestroyWindow();
}

// The control as it paints itself: its client area printed into a white memory bitmap.
std::vector<COLORREF> Printed(HWND control)
{
    RECT r{};
    GetClientRect(control, &r);
    CCompatibleDC dc(nullptr);
    HDC screen = GetDC(nullptr);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, r.right, r.bottom);
    ReleaseDC(nullptr, screen);
    std::vector<COLORREF> pixels;
    {
        CSelectObject selection(dc, bitmap);
        PatBlt(dc, 0, 0, r.right, r.bottom, WHITENESS);
        SendMessageW(control, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(HDC(dc)), PRF_CLIENT);
        for (int y = 0; y < r.bottom; ++y)
            for (int x = 0; x < r.right; ++x) pixels.push_back(GetPixel(dc, x, y));
    }
    DeleteObject(bitmap);
    return pixels;
}

TEST_F(BmpButtonTest, KeyboardFocusShowsARectangleAndSpaceClicks)
{
    DialogTemplate t = ButtonTemplate();
    ButtonDialog dialog;
    ASSERT_TRUE(dialog.CreateIndirect(t.Get()));
    CBmpButton& button = dialog.closeControl;
    CBitmapDialog::LoadCloseControlImages(button);

    SetFocus(nullptr);
    const std::vector<COLORREF> unfocused = Printed(button);
    EXPECT_EQ(unfocused[unfocused.size() / 2], RGB(200, 0, 0)) << "the image is drawn";
    SetFocus(button.m_hWnd);
    ASSERT_EQ(GetFocus(), button.m_hWnd);
    const std::vector<COLORREF> focused = Printed(button);
    EXPECT_NE(focused, unfocused) << "no focus rectangle";
    EXPECT_EQ(focused[focused.size() / 2], RGB(200, 0, 0)) << "the rectangle is drawn over the image, not instead";

    // Space, pressed and released on the control, clicks it once; a release alone does not.
    button.SendMessage(WM_KEYUP, VK_SPACE, 0);
    EXPECT_EQ(dialog.clicks, 0);
    button.SendMessage(WM_KEYDOWN, VK_SPACE, 0);
    button.SendMessage(WM_KEYUP, VK_SPACE, 0);
    EXPECT_EQ(dialog.clicks, 1);
    dialog.DestroyWindow();
}

TEST_F(BmpButtonTest, DestructionReleasesTheFourImages)
{
    DialogTemplate t = ButtonTemplate();
    HBITMAP images[4] = {};
    {
        ButtonDialog dialog;
        ASSERT_TRUE(dialog.CreateIndirect(t.Get()));
        CBitmapDialog::LoadCloseControlImages(dialog.closeControl);
        images[0] = dialog.closeControl.m_hNormalImage;
        images[1] = dialog.closeControl.m_hMouseOverImage;
        images[2] = dialog.closeControl.m_hPressedImage;
        images[3] = dialog.closeControl.m_hDisabledImage;
        for (HBITMAP image : images) EXPECT_EQ(GetObjectType(image), static_cast<DWORD>(OBJ_BITMAP));
    }
    for (HBITMAP image : images) EXPECT_EQ(GetObjectType(image), 0u);
}

TEST_F(BmpButtonTest, EveryImageChangeWritesItsThreeLogLines)
{
    // The log goes below %TEMP%; point it at the scratch folder and read it once closed.
    SetEnvironmentVariableW(L"TEMP", folder.Path().c_str());
    InstallerLog::Close();
    InstallerLog::Instance()->Write("start");
    {
        DialogTemplate t = ButtonTemplate();
        ButtonDialog dialog;
        ASSERT_TRUE(dialog.CreateIndirect(t.Get()));
        CBitmapDialog::LoadCloseControlImages(dialog.closeControl);    // 1
        dialog.closeControl.SendMessage(WM_MOUSEMOVE, 0, MAKELPARAM(3, 3));  // 2
        dialog.closeControl.SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(3, 3));  // 3
        dialog.closeControl.m_bDisabled = TRUE;
        dialog.closeControl.SendMessage(WM_MOUSEMOVE, 0, MAKELPARAM(3, 3));  // none
        dialog.DestroyWindow();
    }
    InstallerLog::Close();
    std::wstring path = folder.Path() + L"\\Tarvelo\\Logs\\InstallerLogs\\Stage1Logs.txt";
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    char buffer[4096] = {};
    DWORD read = 0;
    ReadFile(file, buffer, sizeof(buffer) - 1, &read, nullptr);
    CloseHandle(file);
    std::string one = "In ChangeBitMap\r\nChangeBitMap Locked..\r\nChangeBitMap Unlocked..\r\n";
    EXPECT_EQ(std::string(buffer, read), "start\r\n" + one + one + one);
}

}  // namespace
