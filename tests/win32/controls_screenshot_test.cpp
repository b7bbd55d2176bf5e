// A skinned test dialog showing every control, photographed from the X display into
// <build>/screenshots/controls.png for a person to look at.
#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "framework/app.h"
#include "support/process_start.h"
#include "ui/controls/bitmap_dialog.h"
#include "ui/controls/bmp_button.h"
#include "ui/controls/hyperlink.h"
#include "ui/controls/text_progress.h"
#include "support/dialog_template.h"
#include "support/scratch_folder.h"

namespace {

// A Unix path as Wine's Z: drive sees it.
std::wstring DosPath(const std::wstring& unixPath)
{
    std::wstring path = L"Z:" + unixPath;
    for (wchar_t& c : path)
        if (c == L'/') c = L'\\';
    return path;
}

class ShowcaseDialog : public CBitmapDialog {
public:
    ShowcaseDialog() : CBitmapDialog(0, nullptr) {}
    CBmpButton closeControl;
    CTextProgressCtrl progress;
    CHyperLink link;

protected:
    void DoDataExchange(CDataExchange* exchange) override
    {
        DDX_Control(exchange, 1028, closeControl);
        DDX_Control(exchange, 1008, progress);
        DDX_Control(exchange, 1032, link);
    }
    BOOL OnInitDialog() override
    {
        CBitmapDialog::OnInitDialog();
        SetSkinBackground(kSkinSmallBackground);
        EnableSkinBehaviour();
        LoadCloseControlImages(closeControl);
        CFont* bold = CreateSkinFont(14, 700, L"Verdana");
        CFont* normal = CreateSkinFont(14, 0, L"Verdana");
        SetSkinText(1013, L"Tarvelo Setup - controls", bold);
        SetSkinText(1030, L"Every skinned control", bold);
        SetSkinText(1014, L"Transparent statics over the background, a text progress bar at 50 %, "
                          L"a link, a trackbar.", normal);
        SetSkinText(IDOK, L"OK", bold);
        SetSkinText(IDCANCEL, L"Cancel", bold);
        progress.m_crBar = RGB(231, 82, 0);
        progress.SetPos(50);
        link.SetLinkTarget(L"http://www.tarvelo.invalid/tour");
        ApplyRoundedRegion();
        CenterOnWindow(GetDesktopWindow());
        return TRUE;
    }
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override
    {
        if (message == WM_MOUSEMOVE) {
            closeControl.ChangeBitMap(closeControl.m_bDisabled ? closeControl.m_hDisabledImage
                                                               : closeControl.m_hNormalImage);
            return Default();
        }
        if (message == WM_CTLCOLORSTATIC) {
            CDC dc(reinterpret_cast<HDC>(wParam));
            HBRUSH brush = OnCtlColor(&dc, WrapHandle(reinterpret_cast<HWND>(lParam)), CTLCOLOR_STATIC);
            if (GetDlgCtrlIDOf(lParam) == 1013) {
                dc.SetBkMode(OPAQUE);
                dc.SetBkColor(RGB(231, 82, 0));
                dc.SetTextColor(RGB(255, 255, 255));
                return reinterpret_cast<LRESULT>(SolidBrush(RGB(231, 82, 0)));
            }
            return reinterpret_cast<LRESULT>(brush);
        }
        return CBitmapDialog::WindowProc(message, wParam, lParam);
    }

private:
    static int GetDlgCtrlIDOf(LPARAM control) { return ::GetDlgCtrlID(reinterpret_cast<HWND>(control)); }
};

DialogTemplate ShowcaseTemplate()
{
    DialogTemplate t(WS_POPUP | WS_VISIBLE | DS_SETFOREGROUND, 0, 0, 305, 186);
    t.Add(1013, L"STATIC", L"", WS_VISIBLE, 26, 5, 233, 12);
    t.Add(1028, L"STATIC", L"", WS_VISIBLE | WS_TABSTOP | SS_NOTIFY | SS_BITMAP, 286, 3, 16, 13);
    t.Add(1030, L"STATIC", L"", WS_VISIBLE, 28, 28, 246, 17);
    t.Add(1014, L"STATIC", L"", WS_VISIBLE, 28, 46, 250, 30);
    t.Add(1008, L"msctls_progress32", L"", WS_VISIBLE, 28, 84, 250, 12);
    t.Add(1032, L"STATIC", L"Take the product tour", WS_VISIBLE, 28, 104, 200, 10);
    t.Add(1040, L"msctls_trackbar32", L"", WS_VISIBLE, 28, 120, 120, 16);
    t.Add(IDOK, L"BUTTON", L"", WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, 111, 157, 74, 20);
    t.Add(IDCANCEL, L"BUTTON", L"", WS_VISIBLE | WS_TABSTOP, 200, 157, 77, 20);
    return t;
}

TEST(ControlsScreenshot, EveryControlOnTheDefaultSkin)
{
    const std::wstring build = UnixPathFromEnvironment(L"TARVELO_BUILD_DIR");
    if (build.empty()) GTEST_SKIP() << "TARVELO_BUILD_DIR not set (run through ctest)";
    AfxWinInit(GetModuleHandleW(nullptr), nullptr, nullptr, SW_SHOW);
    // The generated skin of the run folder.
    std::wstring run = DosPath(build + L"/run");
    ASSERT_TRUE(SetCurrentDirectoryW(run.c_str()));

    DialogTemplate t = ShowcaseTemplate();
    ShowcaseDialog dialog;
    ASSERT_TRUE(dialog.CreateIndirect(t.Get()));
    EXPECT_TRUE(dialog.m_bHasBackground) << "no skin in the run folder";
    UpdateWindow(dialog.m_hWnd);
    PumpMessages();

    const std::wstring shot = build + L"/screenshots/controls.png";
    // Written under another name and renamed, so that the file appears only when complete. The
    // Unix child's process handle does not signal under Wine; the file is what is waited for.
    const std::wstring command = L"mkdir -p '" + build + L"/screenshots' && import -window root '" + shot +
                                 L".part.png' && mv '" + shot + L".part.png' '" + shot + L"'";
    DeleteFileW(DosPath(shot).c_str());
    ASSERT_TRUE(StartProcess(L"/bin/sh -c \"" + command + L"\""));
    // Keep painting while the photograph is taken.
    EXPECT_TRUE(WaitUntil([&] { return GetFileAttributesW(DosPath(shot).c_str()) != INVALID_FILE_ATTRIBUTES; }))
        << "no screenshot at " << shot;
    dialog.DestroyWindow();
}

}  // namespace
