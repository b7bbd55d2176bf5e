#include "ui/dialogs/cred_ui_dialog.h"

#include <utility>

#include "download/shared_state.h"
#include "resources/resource.h"
#include "ui/controls/portable/skin_path.h"
#include "ui/dialogs/dependency_dialog.h"
#include "ui/dialogs/dialog_common.h"
#include "ui/dialogs/proxy_info_dialog.h"
#include "ui/dialogs/smaller_dialog.h"

using namespace dialog_colours;

CredUiDialog::CredUiDialog() : CBitmapDialog(IDD_CRED_UI_DIALOG, ProgressDialog.load()) {}

CredUiDialog::~CredUiDialog() = default;

void CredUiDialog::SetMessage(std::wstring text) { m_strMessage = std::move(text); }

void CredUiDialog::DoDataExchange(CDataExchange* exchange) { DDX_Control(exchange, IDC_CLOSE_CONTROL, m_closeButton); }

BOOL CredUiDialog::OnInitDialog()
{
    CBitmapDialog::OnInitDialog();
    SendMessage(WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    SendMessage(WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));

    SetSkinBackground(kSkinSmallBackground);
    EnableSkinBehaviour();
    LoadCloseControlImages(m_closeButton);
    ApplyRoundedRegion();

    CFont* bold = CreateSkinFont(14, 700, L"Verdana");
    CFont* normal = CreateSkinFont(14, 0, L"Verdana");
    CFont* captionFont = CreateSkinFont(14, 700, L"Verdana");
    CFont* small = CreateSkinFont(12, 0, L"Verdana");
    SetSkinText(IDC_CAPTION, DialogText(L"DIALOG_CAPTION"), captionFont);
    SetSkinText(IDC_BODY, m_strMessage, normal);
    SetSkinText(IDC_HEADLINE, DialogText(L"CREDENTIAL_BOLD_TEXT"), bold);
    SetSkinText(IDC_USER_LABEL, DialogText(L"USER_NAME"), normal);
    SetSkinText(IDC_PASSWORD_LABEL, DialogText(L"PASSWORD"), normal);
    SetSkinText(IDC_USER_EXAMPLE, DialogText(L"USER_NAME_EXAMPLE"), small);
    SetSkinText(IDOK, DialogText(L"CONTINUE_BUTTON"), bold);

    PlaceOverOwner(*this);
    return TRUE;
}

LRESULT CredUiDialog::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_COMMAND:
        if (HIWORD(wParam) == BN_CLICKED) {
            if (LOWORD(wParam) == IDOK) {
                OnContinue();
                return 0;
            }
            if (LOWORD(wParam) == IDC_CLOSE_CONTROL) {
                OnCloseControl();
                return 0;
            }
        }
        break;
    case WM_QUERYDRAGICON:
        return reinterpret_cast<LRESULT>(m_hIcon);
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC: {
        CDC dc(reinterpret_cast<HDC>(wParam));
        return reinterpret_cast<LRESULT>(OnStaticColour(&dc, WrapHandle(reinterpret_cast<HWND>(lParam)),
                                                        message - WM_CTLCOLORMSGBOX));
    }
    case WM_MOUSEMOVE:
        OnMouseMove();
        return 0;
    case WM_CLOSE:
        OnClose();
        return 0;
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == SC_CLOSE) {
            OnCloseControl();
            return 0;
        }
        break;
    }
    return CBitmapDialog::WindowProc(message, wParam, lParam);
}

HBRUSH CredUiDialog::OnStaticColour(CDC* dc, CWnd* control, UINT ctlColor)
{
    HBRUSH brush = CBitmapDialog::OnCtlColor(dc, control, ctlColor);
    if (ctlColor != CTLCOLOR_STATIC) return brush;
    switch (ControlId(this, control)) {
    case IDC_CAPTION:
        return PaintStaticOpaque(*this, dc, kCaptionBand, kWhite);
    case IDC_BODY:
    case IDC_HEADLINE:
    case IDC_USER_LABEL:
    case IDC_USER_EXAMPLE:
    case IDC_PASSWORD_LABEL:
        return PaintStaticOpaque(*this, dc, kCream, kBlack);
    case IDC_USER_NAME:
    case IDC_PASSWORD:
        return brush;
    default:
        return PaintStaticOpaque(*this, dc, kWhite, kBlack);
    }
}

void CredUiDialog::OnContinue()
{
    const std::wstring user = ReadControlText(m_hWnd, IDC_USER_NAME, kUserNameBufferChars);
    const std::wstring password = ReadControlText(m_hWnd, IDC_PASSWORD, kPasswordBufferChars);
    m_bClosed = FALSE;
    OnOK();
    m_strUserName = RoundTripTypedText(user, kUserNameBufferChars);
    m_strPassword = RoundTripTypedText(password, kUserNameBufferChars);
    EndDialog(1);
}

void CredUiDialog::OnClose()
{
    m_bClosed = TRUE;
    EndDialog(0);
    Default();
}

void CredUiDialog::OnCloseControl()
{
    if (!AskQuitConfirmation(this)) return;
    m_bClosed = TRUE;
    EndDialog(0);
    Default();
}

void CredUiDialog::OnMouseMove()
{
    ShowRestingImage(m_closeButton);
    Default();
}
