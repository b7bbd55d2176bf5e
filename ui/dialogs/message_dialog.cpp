#include "ui/dialogs/message_dialog.h"

#include <utility>

#include "resources/resource.h"
#include "ui/controls/portable/skin_path.h"
#include "ui/dialogs/dialog_common.h"
#include "ui/dialogs/smaller_dialog.h"

using namespace dialog_colours;

MessageDialog::MessageDialog(std::wstring caption, std::wstring headline, std::wstring body,
                             std::wstring firstButton, std::wstring secondButton, CWnd* owner)
    : CBitmapDialog(IDD_MESSAGE_DIALOG, owner),
      m_strCaption(std::move(caption)),
      m_strBody(std::move(body)),
      m_strHeadline(std::move(headline)),
      m_strFirstButton(std::move(firstButton)),
      m_strSecondButton(std::move(secondButton))
{
}

MessageDialog::~MessageDialog() = default;

void MessageDialog::SetLink(std::wstring text, std::wstring target)
{
    m_strLinkText = std::move(text);
    m_link.SetLinkTarget(std::move(target));
    m_link.m_bFitToText = FALSE;
    m_link.ClearUnderline();
}

void MessageDialog::DoDataExchange(CDataExchange* exchange)
{
    DDX_Control(exchange, IDC_CLOSE_CONTROL, m_closeButton);
    DDX_Control(exchange, IDC_LINK, m_link);
}

BOOL MessageDialog::OnInitDialog()
{
    CBitmapDialog::OnInitDialog();
    SetDialogIcons(*this, m_hIcon);

    SetSkinBackground(kSkinSmallBackground);
    EnableSkinBehaviour();
    LoadCloseControlImages(m_closeButton);

    CFont* captionFont = CreateSkinFont(14, 700, L"Verdana");
    CFont* bold = CreateSkinFont(14, 700, L"Verdana");
    CFont* normal = CreateSkinFont(14, 0, L"Verdana");
    SetSkinText(IDC_CAPTION, m_strCaption, captionFont);
    SetSkinText(IDC_HEADLINE, m_strHeadline, bold);
    SetSkinText(IDC_BODY, m_strBody, normal);
    SetSkinText(IDOK, m_strFirstButton, bold);

    if (!m_strSecondButton.empty()) {
        SetSkinText(IDCANCEL, m_strSecondButton, bold);
    } else if (CWnd* second = GetDlgItem(IDCANCEL)) {
        second->ShowWindow(SW_HIDE);
        if (CWnd* first = GetDlgItem(IDOK)) {
            RECT r{};
            first->GetClientRect(&r);
            first->SetWindowPos(&CWnd::wndTop, 320, 140 + (r.right - r.left), 0, 0, SWP_NOSIZE);
        }
    }

    SetSkinText(IDC_LINK, m_strLinkText, normal);
    ApplyRoundedRegion();
    // On the screen, whatever the owner.
    CenterOnWindow(::GetDesktopWindow());
    return TRUE;
}

namespace {
const LabelColours kColours[] = {
    {IDC_CAPTION, kCaptionBand, kWhite},
    {IDC_BODY, kCream, kBlack},
    {IDC_HEADLINE, kCream, kBlack},
    {IDC_LINK, kCream, kLinkBlue},
};
}  // namespace

LRESULT MessageDialog::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (IsCtlColorMessage(message))
        return AnswerCtlColor(*this, message, wParam, lParam, kColours, [this](CDC* dc, CWnd* control, UINT kind) {
            return CBitmapDialog::OnCtlColor(dc, control, kind);
        });
    if (RouteCloseMessages(message, wParam, SysCloseMatch::Masked, [this] { OnCloseControl(); }, [this] { OnClose(); }))
        return 0;
    switch (message) {
    case WM_QUERYDRAGICON:
        return reinterpret_cast<LRESULT>(m_hIcon);
    case WM_COMMAND:
        if (HIWORD(wParam) == BN_CLICKED) {  // also STN_CLICKED
            switch (LOWORD(wParam)) {
            case IDOK:
                OnFirstButton();
                return 0;
            case IDCANCEL:
                OnSecondButton();
                return 0;
            }
        }
        break;
    case WM_MOUSEMOVE:
        OnMouseMove();
        return 0;
    }
    return CBitmapDialog::WindowProc(message, wParam, lParam);
}

void MessageDialog::OnFirstButton()
{
    m_nAnswer = 1;
    OnOK();
    EndDialog(1);
}

void MessageDialog::OnSecondButton()
{
    m_nAnswer = 0;
    OnCancel();
    EndDialog(0);
}

void MessageDialog::OnCloseControl()
{
    if (AskQuitConfirmation(this)) OnClose();
}

void MessageDialog::OnClose()
{
    EndDialog(2);
    Default();
}

void MessageDialog::OnMouseMove()
{
    ShowRestingImage(m_closeButton);
    Default();
}
