#include "ui/dialogs/cred_ui_dialog.h"

#include <utility>

#include "support/shared_state.h"
#include "resources/resource.h"
#include "ui/dialogs/dependency_dialog.h"
#include "ui/dialogs/dialog_common.h"

using namespace dialog_colours;

CredUiDialog::CredUiDialog() : CBitmapDialog(IDD_CRED_UI_DIALOG, ProgressDialog.load()) {}

CredUiDialog::~CredUiDialog() = default;

void CredUiDialog::SetMessage(std::wstring text) { m_strMessage = std::move(text); }

void CredUiDialog::DoDataExchange(CDataExchange* exchange) { DDX_Control(exchange, IDC_CLOSE_CONTROL, m_closeButton); }

namespace {
const LabelColours kColours[] = {
    {IDC_CAPTION, kCaptionBand, kWhite},  {IDC_BODY, kCream, kBlack},
    {IDC_HEADLINE, kCream, kBlack},       {IDC_USER_LABEL, kCream, kBlack},
    {IDC_USER_EXAMPLE, kCream, kBlack},   {IDC_PASSWORD_LABEL, kCream, kBlack},
    {IDC_USER_NAME, kKeepBaseAnswer, 0},  {IDC_PASSWORD, kKeepBaseAnswer, 0},
};
const SkinFont kFonts[] = {{14, 700, L"Verdana"}, {14, 0, L"Verdana"}, {14, 700, L"Verdana"}, {12, 0, L"Verdana"}};
const LabelledControl kLabels[] = {{IDC_USER_LABEL, IDC_USER_NAME}, {IDC_PASSWORD_LABEL, IDC_PASSWORD}};
}  // namespace

BOOL CredUiDialog::OnInitDialog()
{
    CBitmapDialog::OnInitDialog();
    const SkinText texts[] = {
        {IDC_CAPTION, 2, L"DIALOG_CAPTION"},        {IDC_BODY, 1, m_strMessage},
        {IDC_HEADLINE, 0, L"CREDENTIAL_BOLD_TEXT"}, {IDC_USER_LABEL, 1, L"USER_NAME"},
        {IDC_PASSWORD_LABEL, 1, L"PASSWORD"},       {IDC_USER_EXAMPLE, 3, L"USER_NAME_EXAMPLE"},
        {IDOK, 0, L"CONTINUE_BUTTON"},
    };
    RunPromptSkinSetup(*this, m_closeButton, kFonts, texts, kColours, IDOK, kLabels);
    return TRUE;
}

LRESULT CredUiDialog::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_COMMAND && HIWORD(wParam) == BN_CLICKED && LOWORD(wParam) == IDOK) {
        OnContinue();
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
