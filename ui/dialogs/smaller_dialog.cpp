#include "ui/dialogs/smaller_dialog.h"

#include <memory>
#include <utility>

#include "resources/resource.h"
#include "ui/controls/portable/skin_path.h"
#include "ui/dialogs/dialog_common.h"

SmallerDialog::SmallerDialog(std::wstring headline, std::wstring message, std::wstring firstButton,
                             std::wstring secondButton, CWnd* owner)
    : CBitmapDialog(IDD_SMALLER_DIALOG, owner),
      m_strHeadline(std::move(headline)),
      m_strMessage(std::move(message)),
      m_strFirstButton(std::move(firstButton)),
      m_strSecondButton(std::move(secondButton))
{
}

SmallerDialog::~SmallerDialog() = default;

void SmallerDialog::DoDataExchange(CDataExchange* exchange)
{
    DDX_Control(exchange, IDC_BODY, m_message);
    DDX_Control(exchange, IDC_SMALL_HEADLINE, m_headline);
}

BOOL SmallerDialog::OnInitDialog()
{
    CBitmapDialog::OnInitDialog();
    SetDialogIcons(*this, m_hIcon);

    SetSkinBackground(kSkinSmallestBackground);
    EnableSkinBehaviour();

    CFont* bold = CreateSkinFont(14, 700, L"Verdana");
    CFont* normal = CreateSkinFont(14, 0, L"Verdana");
    SetSkinText(IDC_SMALL_HEADLINE, m_strHeadline, bold);
    SetSkinText(IDC_BODY, m_strMessage, normal);
    SetSkinText(IDOK, m_strFirstButton, bold);

    if (!m_strSecondButton.empty()) {
        SetSkinText(IDCANCEL, m_strSecondButton, bold);
    } else if (CWnd* second = GetDlgItem(IDCANCEL)) {
        second->ShowWindow(SW_HIDE);
        if (CWnd* first = GetDlgItem(IDOK)) {
            RECT r{};
            first->GetClientRect(&r);
            first->SetWindowPos(&CWnd::wndTop, 75, 45 + (r.right - r.left), 0, 0, SWP_NOSIZE);
        }
    }

    ApplyRoundedRegion();

    // DS_SYSMODAL means topmost on Windows; Wine ignores it, so it is asked for explicitly,
    // otherwise a notice would vanish behind the proxy dialog opened after it.
    if ((GetStyle() & DS_SYSMODAL) && !(GetExStyle() & WS_EX_TOPMOST))
        ::SetWindowPos(m_hWnd, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);

    if (CWnd* owner = GetParent())
        CenterOnWindow(owner);
    else
        CenterOnWindow(::GetDesktopWindow());
    return TRUE;
}

LRESULT SmallerDialog::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_COMMAND && HIWORD(wParam) == BN_CLICKED) {
        switch (LOWORD(wParam)) {
        case IDOK:
            OnFirstButton();
            return 0;
        case IDCANCEL:
            OnSecondButton();
            return 0;
        }
    }
    return CBitmapDialog::WindowProc(message, wParam, lParam);
}

void SmallerDialog::OnFirstButton()
{
    m_nAnswer = 1;
    EndDialog(1);
}

void SmallerDialog::OnSecondButton()
{
    m_nAnswer = 0;
    EndDialog(0);
}

BOOL AskQuitConfirmation(CWnd* askingDialog)
{
    auto confirmation = std::make_unique<SmallerDialog>(DialogText(L"QUIT_INSTALLING_CAPTION"),
                                                        DialogText(L"QUIT_TARVELO"), DialogText(L"YES"),
                                                        DialogText(L"NO"), askingDialog);
    confirmation->DoModal();
    return confirmation->m_nAnswer == 1;
}
