#include "ui/dialogs/proxy_info_dialog.h"

#include <utility>

#include "download/shared_state.h"
#include "resources/resource.h"
#include "ui/controls/portable/skin_path.h"
#include "ui/dialogs/dependency_dialog.h"
#include "ui/dialogs/dialog_common.h"
#include "ui/dialogs/smaller_dialog.h"

using namespace dialog_colours;

void PlaceOverOwner(CBitmapDialog& dialog)
{
    if (CWnd* owner = dialog.GetParent()) {
        RECT r{};
        owner->GetWindowRect(&r);
        dialog.SetWindowPos(&CWnd::wndTop, r.left, r.top, 0, 0, SWP_NOSIZE);
    } else {
        dialog.CenterWindow();
    }
}

ProxyInfoDialog::ProxyInfoDialog() : CBitmapDialog(IDD_PROXY_INFO_DIALOG, ProgressDialog.load()) {}

ProxyInfoDialog::~ProxyInfoDialog() = default;

void ProxyInfoDialog::SetMessage(std::wstring text) { m_strMessage = std::move(text); }

void ProxyInfoDialog::DoDataExchange(CDataExchange* exchange) { DDX_Control(exchange, IDC_CLOSE_CONTROL, m_closeButton); }

BOOL ProxyInfoDialog::OnInitDialog()
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

    PlaceOverOwner(*this);
    return TRUE;
}

LRESULT ProxyInfoDialog::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
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
    case WM_COMMAND:
        if (HIWORD(wParam) == BN_CLICKED) {
            if (LOWORD(wParam) == IDC_CONTINUE) {
                OnContinue();
                return 0;
            }
            if (LOWORD(wParam) == IDC_CLOSE_CONTROL) {
                OnCloseControl();
                return 0;
            }
        }
        break;
    case WM_CLOSE:
        OnClose();
        return 0;
    case WM_QUERYDRAGICON:
        return reinterpret_cast<LRESULT>(m_hIcon);
    case WM_MOUSEMOVE:
        OnMouseMove();
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

HBRUSH ProxyInfoDialog::OnStaticColour(CDC* dc, CWnd* control, UINT ctlColor)
{
    HBRUSH brush = CBitmapDialog::OnCtlColor(dc, control, ctlColor);
    if (ctlColor != CTLCOLOR_STATIC) return brush;
    switch (ControlId(this, control)) {
    case IDC_CAPTION:
        return PaintStaticOpaque(*this, dc, kCaptionBand, kWhite);
    case IDC_BODY:
    case IDC_HEADLINE:
    case IDC_SERVER_LABEL:
    case IDC_SERVER_EXAMPLE:
    case IDC_PORT_LABEL:
    case IDC_PORT_EXAMPLE:
        return PaintStaticOpaque(*this, dc, kCream, kBlack);
    case IDC_PROXY_SERVER:  // read-only edits colour as statics; they keep the base answer
    case IDC_PROXY_PORT:
        return brush;
    default:
        return PaintStaticOpaque(*this, dc, kWhite, kBlack);
    }
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
    if (!AskQuitConfirmation(this)) return;
    m_strProxyServer.clear();
    m_strProxyPort.clear();
    EndDialog(0);
    Default();
}

void ProxyInfoDialog::OnMouseMove()
{
    ShowRestingImage(m_closeButton);
    Default();
}
