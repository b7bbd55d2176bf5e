// The hyperlink: set-up from the template, tooltip, fitting to the text, hover with capture,
// colours through reflection, and the browser start.
#include <windows.h>
#include <shlobj.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "framework/app.h"
#include "support/process_start.h"
#include "ui/controls/bitmap_dialog.h"
#include "ui/controls/hyperlink.h"
#include "support/dialog_template.h"

namespace {

constexpr WORD kLeftLink = 100;
constexpr WORD kCentredLink = 101;
constexpr WORD kEmptyLink = 102;
const wchar_t kAddress[] = L"http://www.tarvelo.invalid/tour";

class LinkDialog : public CBitmapDialog {
public:
    LinkDialog() : CBitmapDialog(0, nullptr) {}
    CHyperLink left, centred, empty;

protected:
    void DoDataExchange(CDataExchange* exchange) override
    {
        DDX_Control(exchange, kLeftLink, left);
        DDX_Control(exchange, kCentredLink, centred);
        DDX_Control(exchange, kEmptyLink, empty);
    }
};

DialogTemplate LinkTemplate()
{
    DialogTemplate t(WS_POPUP | WS_VISIBLE, 0, 0, 220, 100);
    t.Add(kLeftLink, L"STATIC", kAddress, WS_VISIBLE, 10, 10, 200, 12);
    t.Add(kCentredLink, L"STATIC", L"Static", WS_VISIBLE | SS_CENTER, 10, 30, 200, 12);
    t.Add(kEmptyLink, L"STATIC", L"", WS_VISIBLE, 10, 50, 200, 12);
    return t;
}

RECT RectInParent(CWnd& control)
{
    RECT rect{};
    control.GetWindowRect(&rect);
    MapWindowPoints(nullptr, GetParent(control.m_hWnd), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

SIZE TextExtent(CHyperLink& link)
{
    HDC dc = GetDC(link.m_hWnd);
    HGDIOBJ old = SelectObject(dc, link.m_font);
    std::wstring text = link.GetWindowText();
    SIZE size{};
    GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
    SelectObject(dc, old);
    ReleaseDC(link.m_hWnd, dc);
    return size;
}

class HyperLinkTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        AfxWinInit(GetModuleHandleW(nullptr), nullptr, nullptr, SW_SHOW);
        dialog.empty.SetLinkTarget(L"http://www.tarvelo.invalid/empty");  // before binding
        ASSERT_TRUE(dialog.CreateIndirect(t.Get()));
        PumpMessages();
    }
    void TearDown() override
    {
        SetProcessStartHookForTesting(nullptr);
        dialog.DestroyWindow();
    }
    DialogTemplate t = LinkTemplate();
    LinkDialog dialog;
};

TEST_F(HyperLinkTest, SetUpTakesTargetFromTextUnderlinesAndAddsTheTooltip)
{
    CHyperLink& link = dialog.left;
    EXPECT_EQ(link.m_strTarget, kAddress);
    EXPECT_TRUE(link.GetStyle() & SS_NOTIFY);
    LOGFONTW font{};
    ASSERT_NE(GetObjectW(link.GetFont(), sizeof(font), &font), 0);
    EXPECT_TRUE(font.lfUnderline);
    EXPECT_EQ(link.GetFont(), link.m_font.GetSafeHandle());
    EXPECT_EQ(link.m_toolTip.GetToolCount(), 1);
    EXPECT_EQ(link.m_toolTip.GetText(&link, 1), kAddress);

    // An empty template text shows the target set beforehand.
    EXPECT_EQ(dialog.empty.GetWindowText(), L"http://www.tarvelo.invalid/empty");

    dialog.left.ClearUnderline();
    GetObjectW(link.GetFont(), sizeof(font), &font);
    EXPECT_FALSE(font.lfUnderline);
    EXPECT_FALSE(link.m_bUnderline);
}

TEST_F(HyperLinkTest, StaticTextIsTheTargetUntilSetLinkTargetReplacesItAndTheTooltip)
{
    CHyperLink& link = dialog.centred;
    EXPECT_EQ(link.m_strTarget, L"Static");
    EXPECT_EQ(link.m_toolTip.GetText(&link, 1), L"Static");
    link.SetLinkTarget(kAddress);
    EXPECT_EQ(link.m_strTarget, kAddress);
    EXPECT_EQ(link.m_toolTip.GetText(&link, 1), kAddress);
    EXPECT_EQ(link.GetWindowText(), L"Static");
}

TEST_F(HyperLinkTest, FitsToTheTextKeepingItsAnchor)
{
    // The template rectangles are 200 dialog units wide from x = 10.
    RECT templateRect{10, 10, 210, 22};
    MapDialogRect(dialog.m_hWnd, &templateRect);

    RECT left = RectInParent(dialog.left);
    SIZE leftText = TextExtent(dialog.left);
    EXPECT_EQ(left.left, templateRect.left);
    EXPECT_EQ(left.right - left.left, leftText.cx);
    EXPECT_EQ(left.bottom - left.top, leftText.cy);

    RECT centred = RectInParent(dialog.centred);
    SIZE centredText = TextExtent(dialog.centred);
    EXPECT_LE(std::abs(centred.right - centred.left - centredText.cx), 1);
    EXPECT_LE(std::abs((centred.left + centred.right) / 2 - (templateRect.left + templateRect.right) / 2), 1);

    // Without fitting, SetLinkTarget keeps the size.
    dialog.centred.m_bFitToText = FALSE;
    dialog.centred.SetWindowText(L"Static, now with a much longer text");
    dialog.centred.SetLinkTarget(kAddress);
    RECT kept = RectInParent(dialog.centred);
    EXPECT_TRUE(EqualRect(&kept, &centred));
}

TEST_F(HyperLinkTest, HoverTakesCaptureAndChangesTheColourUntilTheMouseLeaves)
{
    CHyperLink& link = dialog.left;
    HDC dc = GetDC(dialog.m_hWnd);
    auto colour = [&] {
        dialog.SendMessage(WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(link.m_hWnd));
        return GetTextColor(dc);
    };
    EXPECT_EQ(colour(), RGB(0, 0, 238));
    EXPECT_EQ(GetBkMode(dc), TRANSPARENT);

    link.SendMessage(WM_MOUSEMOVE, 0, MAKELPARAM(2, 2));
    EXPECT_TRUE(link.m_bHover);
    EXPECT_EQ(GetCapture(), link.m_hWnd);
    EXPECT_EQ(colour(), link.m_crHover);
    link.SendMessage(WM_MOUSEMOVE, 0, MAKELPARAM(3, 3));  // still inside
    EXPECT_TRUE(link.m_bHover);
    EXPECT_EQ(GetCapture(), link.m_hWnd);

    link.SendMessage(WM_MOUSEMOVE, 0, MAKELPARAM(-4, -4));
    EXPECT_FALSE(link.m_bHover);
    EXPECT_NE(GetCapture(), link.m_hWnd);
    EXPECT_EQ(colour(), RGB(0, 0, 238));

    // Capture taken by another window ends the hover as well.
    link.SendMessage(WM_MOUSEMOVE, 0, MAKELPARAM(2, 2));
    SetCapture(dialog.m_hWnd);
    EXPECT_FALSE(link.m_bHover);
    ReleaseCapture();
    ReleaseDC(dialog.m_hWnd, dc);
}

TEST_F(HyperLinkTest, CursorIsTheHandWhenOneWasFound)
{
    CHyperLink& link = dialog.left;
    LRESULT answer = link.SendMessage(WM_SETCURSOR, reinterpret_cast<WPARAM>(link.m_hWnd), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
    if (link.m_hHandCursor) {
        EXPECT_EQ(answer, TRUE);
        EXPECT_EQ(GetCursor(), link.m_hHandCursor);
    } else {
        EXPECT_EQ(answer, FALSE);
    }
}

TEST_F(HyperLinkTest, EachClickStartsTheBrowserWithTheExactCommandLine)
{
    std::vector<std::wstring> started;
    SetProcessStartHookForTesting([&](const std::wstring& line) {
        started.push_back(line);
        return true;
    });
    wchar_t programFiles[MAX_PATH] = {};
    ASSERT_EQ(SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILES, nullptr, SHGFP_TYPE_CURRENT, programFiles), S_OK);
    std::wstring expected = L"\"" + std::wstring(programFiles) + L"\\Internet Explorer\\IEXPLORE.EXE\" \"" + kAddress + L"\"";

    for (int click = 0; click < 2; ++click) {
        dialog.left.SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 2));
        dialog.left.SendMessage(WM_LBUTTONUP, 0, MAKELPARAM(2, 2));
    }
    ASSERT_EQ(started.size(), 2u);
    EXPECT_EQ(started[0], expected);
    EXPECT_EQ(started[1], expected);

    // A long target is passed whole.
    std::wstring longTarget = L"http://www.tarvelo.invalid/" + std::wstring(300, L'x');
    EXPECT_TRUE(dialog.left.OpenLinkTarget(longTarget));
    ASSERT_EQ(started.size(), 3u);
    EXPECT_EQ(started[2].size(), expected.size() - wcslen(kAddress) + longTarget.size());
}

TEST(ProcessStart, RealStartOfAHarmlessProgram)
{
    HANDLE process = nullptr;
    ASSERT_TRUE(StartProcess(L"cmd.exe /c exit 3", &process));
    ASSERT_NE(process, nullptr);
    EXPECT_EQ(WaitForSingleObject(process, e2e::WaitLimitMs()), WAIT_OBJECT_0);
    DWORD code = 0;
    GetExitCodeProcess(process, &code);
    EXPECT_EQ(code, 3u);
    CloseHandle(process);
}

TEST(HyperLinkLifetime, DestructionReleasesTheCopiedCursorAndFont)
{
    AfxWinInit(GetModuleHandleW(nullptr), nullptr, nullptr, SW_SHOW);
    DialogTemplate t = LinkTemplate();
    HCURSOR cursor = nullptr;
    HFONT font = nullptr;
    {
        LinkDialog dialog;
        ASSERT_TRUE(dialog.CreateIndirect(t.Get()));
        cursor = dialog.left.m_hHandCursor;
        font = dialog.left.m_font;
        EXPECT_EQ(GetObjectType(font), static_cast<DWORD>(OBJ_FONT));
        dialog.DestroyWindow();
    }
    EXPECT_EQ(GetObjectType(font), 0u);
    if (cursor) {
        ICONINFO info{};
        EXPECT_FALSE(GetIconInfo(cursor, &info));
    }
}

}  // namespace
