#include "ui/dialogs/smaller_dialog.h"

#include <memory>
#include <utility>

#include "resources/resource.h"

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

namespace {
const SkinFont kFonts[] = {{14, 700, L"Verdana"}, {14, 0, L"Verdana"}};
constexpr POINT kSingleButton = {75, 45};
}  // namespace

BOOL SmallerDialog::OnInitDialog()
{
    CBitmapDialog::OnInitDialog();

    // DS_SYSMODAL means topmost on Windows; Wine ignores it, so it is asked for explicitly,
    // otherwise a notice would vanish behind the proxy dialog opened after it.
    if ((GetStyle() & DS_SYSMODAL) && !(GetExStyle() & WS_EX_TOPMOST))
        ::SetWindowPos(m_hWnd, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);

    const SkinText texts[] = {
        {IDC_SMALL_HEADLINE, 0, m_strHeadline},
        {IDC_BODY, 1, m_strMessage},
        {IDOK, 0, m_strFirstButton},
        {IDCANCEL, 0, m_strSecondButton},
    };
    SkinSetup skin(kSkinSmallestBackground, kFonts, texts);
    skin.answerButtons = true;
    if (m_strSecondButton.empty()) skin.singleButtonAt = &kSingleButton;
    skin.placement = SkinPlacement::OverOwner;  // no close control: closing is the dialog manager's
    skin.nameId = IDC_SMALL_HEADLINE;
    RunSkinSetup(skin);
    return TRUE;
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
