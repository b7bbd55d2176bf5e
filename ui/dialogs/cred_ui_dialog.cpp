#include "ui/dialogs/cred_ui_dialog.h"

#include <utility>

#include "support/shared_state.h"
#include "resources/resource.h"
#include "ui/controls/portable/skin_path.h"
#include "ui/dialogs/dependency_dialog.h"
#include "ui/dialogs/dialog_common.h"
#include "ui/dialogs/smaller_dialog.h"

using namespace dialog_colours;

CredUiDialog::CredUiDialog() : CBitmapDialog(IDD_CRED_UI_DIALOG, ProgressDialog.load()) {}

CredUiDialog::~CredUiDialog() = default;

void CredUiDialog::SetMessage(std::wstring text) { m_strMessage = std::move(text); }

void CredUiDialog::DoDataExchange(CDataExchange* exchange) { DDX_Control(exchange, IDC_CLOSE_CONTROL, m_closeButton); }

BOOL CredUiDialog::OnInitDialog()
{
    CBitmapDialog::OnInitDialog();
    SetDialogIcons(*this, m_hIcon);

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
    // Enter continues; shown as the default button, as in the proxy settings dialog.
    SendMessage(DM_SETDEFID, IDOK);

    PlaceOnOwnerCorner(*this);
    return TRUE;
}

namespace {
const LabelColours kColours[] = {
    {IDC_CAPTION, kCaptionBand, kWhite},  {IDC_BODY, kCream, kBlack},
    {IDC_HEADLINE, kCream, kBlack},       {IDC_USER_LABEL, kCream, kBlack},
    {IDC_USER_EXAMPLE, kCream, kBlack},   {IDC_PASSWORD_LABEL, kCream, kBlack},
    {IDC_USER_NAME, kKeepBaseAnswer, 0},  {IDC_PASSWORD, kKeepBaseAnswer, 0},
};
}  // namespace

LRESULT CredUiDialog::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (IsCtlColorMessage(message))
        return AnswerCtlColor(*this, message, wParam, lParam, kColours, [this](CDC* dc, CWnd* control, UINT kind) {
            return CBitmapDialog::OnCtlColor(dc, control, kind);
        });
    if (RouteCloseMessages(message, wParam, SysCloseMatch::Masked, [this] { OnCloseControl(); }, [this] { OnClose(); }))
        return 0;
    switch (message) {
    case WM_COMMAND:
        if (HIWORD(wParam) == BN_CLICKED && LOWORD(wParam) == IDOK) {
            OnContinue();
            return 0;
        }
        break;
    case WM_QUERYDRAGICON:
        return reinterpret_cast<LRESULT>(m_hIcon);
    case WM_MOUSEMOVE:
        OnMouseMove();
        return 0;
    }
    return CBitmapDialog::WindowProc(message, wParam, lParam);
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
    if (AskQuitConfirmation(this)) OnClose();
}

void CredUiDialog::OnMouseMove()
{
    ShowRestingImage(m_closeButton);
    Default();
}
