#include "ui/dialogs/proxy_info_dialog.h"

#include <utility>

#include "support/shared_state.h"
#include "resources/resource.h"
#include "ui/controls/portable/skin_path.h"
#include "ui/dialogs/dependency_dialog.h"
#include "ui/dialogs/dialog_common.h"
#include "ui/dialogs/smaller_dialog.h"

using namespace dialog_colours;

ProxyInfoDialog::ProxyInfoDialog() : CBitmapDialog(IDD_PROXY_INFO_DIALOG, ProgressDialog.load()) {}

ProxyInfoDialog::~ProxyInfoDialog() = default;

void ProxyInfoDialog::SetMessage(std::wstring text) { m_strMessage = std::move(text); }

void ProxyInfoDialog::DoDataExchange(CDataExchange* exchange) { DDX_Control(exchange, IDC_CLOSE_CONTROL, m_closeButton); }

BOOL ProxyInfoDialog::OnInitDialog()
{
    CBitmapDialog::OnInitDialog();
    SetDialogIcons(*this, m_hIcon);

    SetSkinBackground(kSkinSmallBackground);
    EnableSkinBehaviour();
    LoadCloseControlImages(m_closeButton);
    ApplyRoundedRegion();

    CFont* bold = CreateSkinFont(14, 700, L"Verdana");
    CFont* normal = CreateSkinFont(14, 0, L"Verdana");
    CFont* small = CreateSkinFont(12, 0, L"Verdana");
    CFont* captionFont = CreateSkinFont(14, 700, L"Verdana");
    SetSkinText(IDC_SERVER_LABEL, DialogText(L"HTTP_PROXY"), normal);
    SetSkinText(IDC_PORT_LABEL, DialogText(L"HTTP_PORT"), normal);
    SetSkinText(IDC_PORT_EXAMPLE, DialogText(L"PORT_EG"), small);
    SetSkinText(IDC_SERVER_EXAMPLE, DialogText(L"PROXY_EXAMPLE"), small);
    SetSkinText(IDC_BODY, m_strMessage, normal);
    SetSkinText(IDC_HEADLINE, DialogText(L"PROXY_BOLD_TEXT"), bold);
    SetSkinText(IDC_CAPTION, DialogText(L"DIALOG_CAPTION"), captionFont);
    SetSkinText(IDC_CONTINUE, DialogText(L"CONTINUE_BUTTON"), bold);
    // Continue is the default button: Enter in a field goes on with what was typed, where the
    // dialog manager's own Enter (IDOK) would end the dialog and throw the typed proxy away.
    SendMessage(DM_SETDEFID, IDC_CONTINUE);

    PlaceOnOwnerCorner(*this);
    return TRUE;
}

namespace {
// The edits keep the base answer also when they colour as statics (read-only or disabled).
const LabelColours kColours[] = {
    {IDC_CAPTION, kCaptionBand, kWhite},     {IDC_BODY, kCream, kBlack},
    {IDC_HEADLINE, kCream, kBlack},          {IDC_SERVER_LABEL, kCream, kBlack},
    {IDC_SERVER_EXAMPLE, kCream, kBlack},    {IDC_PORT_LABEL, kCream, kBlack},
    {IDC_PORT_EXAMPLE, kCream, kBlack},      {IDC_PROXY_SERVER, kKeepBaseAnswer, 0},
    {IDC_PROXY_PORT, kKeepBaseAnswer, 0},
};
}  // namespace

LRESULT ProxyInfoDialog::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (IsCtlColorMessage(message))
        return AnswerCtlColor(*this, message, wParam, lParam, kColours, [this](CDC* dc, CWnd* control, UINT kind) {
            return CBitmapDialog::OnCtlColor(dc, control, kind);
        });
    if (RouteCloseMessages(message, wParam, SysCloseMatch::Masked, [this] { OnCloseControl(); }, [this] { OnClose(); }))
        return 0;
    switch (message) {
    case WM_COMMAND:
        if (HIWORD(wParam) == BN_CLICKED && LOWORD(wParam) == IDC_CONTINUE) {
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

void ProxyInfoDialog::OnCloseControl()
{
    if (AskQuitConfirmation(this)) OnClose();
}

void ProxyInfoDialog::OnMouseMove()
{
    ShowRestingImage(m_closeButton);
    Default();
}
