#include "ui/dialogs/message_dialog.h"

#include <utility>

#include "resources/resource.h"
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

namespace {
const LabelColours kColours[] = {
    {IDC_CAPTION, kCaptionBand, kWhite},
    {IDC_BODY, kCream, kBlack},
    {IDC_HEADLINE, kCream, kBlack},
    {IDC_LINK, kCream, kLinkBlue},
};
const SkinFont kFonts[] = {{14, 700, L"Verdana"}, {14, 700, L"Verdana"}, {14, 0, L"Verdana"}};
constexpr POINT kSingleButton = {320, 140};
}  // namespace

BOOL MessageDialog::OnInitDialog()
{
    CBitmapDialog::OnInitDialog();
    const SkinText texts[] = {
        {IDC_CAPTION, 0, m_strCaption},    {IDC_HEADLINE, 1, m_strHeadline},    {IDC_BODY, 2, m_strBody},
        {IDOK, 1, m_strFirstButton},       {IDCANCEL, 1, m_strSecondButton},    {IDC_LINK, 2, m_strLinkText},
    };
    SkinSetup skin(kSkinSmallBackground, kFonts, texts);
    skin.answerButtons = true;
    if (m_strSecondButton.empty()) skin.singleButtonAt = &kSingleButton;
    skin.closeControl = &m_closeButton;
    skin.confirmQuit = AskQuitConfirmation;
    skin.colours = kColours;
    skin.placement = SkinPlacement::Screen;  // on the screen, whatever the owner
    skin.nameId = IDC_CAPTION;
    RunSkinSetup(skin);
    // Without a link the line is hidden: screen readers would find an empty link there, and a
    // click on the empty line would open the browser on no address.
    if (m_strLinkText.empty()) m_link.ShowWindow(SW_HIDE);
    return TRUE;
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

void MessageDialog::OnClose()
{
    EndDialog(2);
    Default();
}
