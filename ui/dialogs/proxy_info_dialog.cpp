#include "ui/dialogs/proxy_info_dialog.h"

#include <utility>

#include "support/shared_state.h"
#include "resources/resource.h"
#include "ui/dialogs/dependency_dialog.h"
#include "ui/dialogs/dialog_common.h"

using namespace dialog_colours;

ProxyInfoDialog::ProxyInfoDialog() : CBitmapDialog(IDD_PROXY_INFO_DIALOG, ProgressDialog.load()) {}

ProxyInfoDialog::~ProxyInfoDialog() = default;

void ProxyInfoDialog::SetMessage(std::wstring text) { m_strMessage = std::move(text); }

void ProxyInfoDialog::DoDataExchange(CDataExchange* exchange) { DDX_Control(exchange, IDC_CLOSE_CONTROL, m_closeButton); }

namespace {
// The edits keep the base answer also when they colour as statics (read-only or disabled).
const LabelColours kColours[] = {
    {IDC_CAPTION, kCaptionBand, kWhite},     {IDC_BODY, kCream, kBlack},
    {IDC_HEADLINE, kCream, kBlack},          {IDC_SERVER_LABEL, kCream, kBlack},
    {IDC_SERVER_EXAMPLE, kCream, kBlack},    {IDC_PORT_LABEL, kCream, kBlack},
    {IDC_PORT_EXAMPLE, kCream, kBlack},      {IDC_PROXY_SERVER, kKeepBaseAnswer, 0},
    {IDC_PROXY_PORT, kKeepBaseAnswer, 0},
};
const SkinFont kFonts[] = {{14, 700, L"Verdana"}, {14, 0, L"Verdana"}, {12, 0, L"Verdana"}, {14, 700, L"Verdana"}};
const LabelledControl kLabels[] = {{IDC_SERVER_LABEL, IDC_PROXY_SERVER}, {IDC_PORT_LABEL, IDC_PROXY_PORT}};
}  // namespace

BOOL ProxyInfoDialog::OnInitDialog()
{
    CBitmapDialog::OnInitDialog();
    const SkinText texts[] = {
        {IDC_SERVER_LABEL, 1, L"HTTP_PROXY"},     {IDC_PORT_LABEL, 1, L"HTTP_PORT"},
        {IDC_PORT_EXAMPLE, 2, L"PORT_EG"},        {IDC_SERVER_EXAMPLE, 2, L"PROXY_EXAMPLE"},
        {IDC_BODY, 1, m_strMessage},              {IDC_HEADLINE, 0, L"PROXY_BOLD_TEXT"},
        {IDC_CAPTION, 3, L"DIALOG_CAPTION"},      {IDC_CONTINUE, 0, L"CONTINUE_BUTTON"},
    };
    // Continue, not the dialog manager's IDOK: that would end the dialog and throw the typed
    // proxy away.
    RunPromptSkinSetup(*this, m_closeButton, kFonts, texts, kColours, IDC_CONTINUE, kLabels);
    return TRUE;
}

LRESULT ProxyInfoDialog::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_COMMAND && HIWORD(wParam) == BN_CLICKED && LOWORD(wParam) == IDC_CONTINUE) {
        OnContinue();
        return 0;
    }
    return CBitmapDialog::WindowProc(message, wParam, lParam);
}

void ProxyInfoDialog::OnContinue()
{
    const std::wstring server = ReadControlText(m_hWnd, IDC_PROXY_SERVER, kServerBufferChars);
    const std::wstring port = ReadControlText(m_hWnd, IDC_PROXY_PORT, kPortBufferChars);
    EndDialog(IDC_CONTINUE);
    m_strProxyServer = RoundTripTypedText(server, kServerBufferChars);
    m_strProxyPort = RoundTripTypedText(port, kPortBufferChars);
}

void ProxyInfoDialog::OnClose()
{
    m_strProxyServer.clear();
    m_strProxyPort.clear();
    EndDialog(0);
    Default();
}
