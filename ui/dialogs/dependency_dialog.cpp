#include "ui/dialogs/dependency_dialog.h"

#include <utility>

#include "support/shared_state.h"
#include "resources/resource.h"
#include "support/installer_log.h"
#include "ui/controls/portable/skin_path.h"
#include "ui/dialogs/dialog_common.h"
#include "ui/dialogs/smaller_dialog.h"

using namespace dialog_colours;

const wchar_t DependencyDialog::kProductTourUrl[] = L"http://www.tarvelo.com/r/1.3/product-tour";

namespace {
// Posted by RequestEnd: answer an open quit confirmation no, on the dialog's own thread.
constexpr UINT kDismissQuestionMessage = WM_APP + 0x51;

struct OwnedDialogSearch {
    HWND owner;
    HWND found;
};

BOOL CALLBACK FindOwnedDialog(HWND window, LPARAM param)
{
    auto* search = reinterpret_cast<OwnedDialogSearch*>(param);
    wchar_t cls[16] = {};
    ::GetClassNameW(window, cls, 16);
    if (::GetWindow(window, GW_OWNER) == search->owner && ::lstrcmpW(cls, L"#32770") == 0 &&
        CDialog::FromDialogHandle(window)) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

// The caption band, the link and the feature texts are coloured in both layouts; the body and
// bold line lie on cream in the .NET layout and transparently on the product image otherwise.
const LabelColours kDotNetColours[] = {
    {IDC_CAPTION, kCaptionBand, kWhite},    {IDC_BODY, kCream, kBlack},
    {IDC_HEADLINE, kCream, kBlack},         {IDC_FEATURE1, kKeepBaseAnswer, 0},
    {IDC_FEATURE2, kKeepBaseAnswer, 0},     {IDC_FEATURE3, kKeepBaseAnswer, 0},
    {IDC_TOUR_LINK, kCream, kLinkBlue},
};
const LabelColours kProductColours[] = {
    {IDC_CAPTION, kCaptionBand, kWhite}, {IDC_BODY, kKeepBaseAnswer, 0},
    {IDC_HEADLINE, kKeepBaseAnswer, 0},  {IDC_FEATURE1, kCream, kBrown},
    {IDC_FEATURE2, kCream, kBrown},      {IDC_FEATURE3, kCream, kBrown},
    {IDC_TOUR_LINK, kCream, kLinkBlue},
};
}  // namespace

DependencyDialog::DependencyDialog(std::wstring caption, std::wstring body, BOOL dotNetMode, CWnd* parent)
    : CBitmapDialog(IDD_DEPENDENCY_DIALOG, parent),
      m_bDotNetMode(dotNetMode),
      m_strCaption(std::move(caption)),
      m_strBody(std::move(body))
{
    CCriticalSectionLock lock(m_lock);
    m_bCloseBlocked = TRUE;
}

DependencyDialog::~DependencyDialog() = default;

void DependencyDialog::DoDataExchange(CDataExchange* exchange)
{
    DDX_Control(exchange, IDC_PROGRESS, m_progress);
    DDX_Control(exchange, IDC_CAPTION, m_caption);
    DDX_Control(exchange, IDC_BODY, m_body);
    DDX_Control(exchange, IDC_CLOSE_CONTROL, m_closeButton);
    DDX_Control(exchange, IDC_TOUR_LINK, m_link);
}

BOOL DependencyDialog::OnInitDialog()
{
    CBitmapDialog::OnInitDialog();
    m_window = m_hWnd;
    SetDialogIcons(*this, m_hIcon);

    AbortRequested = false;

    SetSkinBackground(m_bDotNetMode ? kSkinSmallBackground : kSkinInstallBackground);
    Log("Image loaded..");
    EnableSkinBehaviour();

    if (m_progress.IsWindow() && m_progress.m_bShowPercent) m_progress.Invalidate(TRUE);
    m_progress.m_bShowPercent = FALSE;
    m_progress.m_crBar = kCaptionBand;

    CFont* captionFont = CreateSkinFont(14, 700, L"Verdana");
    CFont* bold = CreateSkinFont(14, 700, L"Verdana");
    CFont* normal = CreateSkinFont(14, 0, L"Verdana");

    SetSkinText(IDC_CAPTION, m_strCaption, captionFont);
    Log("Caption & Body text loaded..");

    if (m_bDotNetMode) {
        SetSkinText(IDC_HEADLINE, DialogText(L"DOTNET_HYPERLINK_TEXT"), bold);
        SetSkinText(IDC_PROGRESS_LINE, DialogText(L"PROGRESS_BAR_DOWNLOADING_TEXT"), bold);
        m_link.SetWindowText(DialogText(L"URL_LABEL2"));
        m_link.SetLinkTarget(kProductTourUrl);
        m_link.ClearUnderline();
        for (int id : {IDC_FEATURE1, IDC_FEATURE2, IDC_FEATURE3}) SetSkinText(id, std::wstring(), nullptr);
    } else {
        SetSkinText(IDC_HEADLINE, std::wstring(), nullptr);
        SetSkinText(IDC_TOUR_LINK, std::wstring(), nullptr);
        // The empty link line lies across the feature texts and paints itself cream over them;
        // hidden, it neither covers them nor opens an empty address when clicked.
        m_link.ShowWindow(SW_HIDE);
        SetSkinText(IDC_PROGRESS_LINE, DialogText(L"PROGRESS_BAR_TARVELO"), bold);
        CFont* feature = CreateSkinFont(15, 700, L"Arial");
        SetSkinText(IDC_FEATURE1, DialogText(L"DOWNLOAD_CONTENT"), feature);
        SetSkinText(IDC_FEATURE2, DialogText(L"BROWSE_SEARCH"), feature);
        SetSkinText(IDC_FEATURE3, DialogText(L"SYNC_MOBILE"), feature);
    }

    SetSkinText(IDC_BODY, m_strBody, normal);
    Log("All strings loaded with proper text");

    LoadCloseControlImages(m_closeButton);
    Log("all Croxx Images loaded...");

    ApplyRoundedRegion();
    Log("Rounded Rectangle carved...");

    CenterOnWindow(::GetDesktopWindow());
    Log("Window position set...");
    return TRUE;
}

LRESULT DependencyDialog::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (IsCtlColorMessage(message)) {
        const ColourTable colours = m_bDotNetMode ? ColourTable(kDotNetColours) : ColourTable(kProductColours);
        return AnswerCtlColor(*this, message, wParam, lParam, colours, [this](CDC* dc, CWnd* control, UINT kind) {
            return CBitmapDialog::OnCtlColor(dc, control, kind);
        });
    }
    // SC_CLOSE is compared as it comes: only the plain Close command asks here.
    if (RouteCloseMessages(message, wParam, SysCloseMatch::Exact, [this] { OnCloseControl(); }, [this] { OnClose(); }))
        return 0;
    if (message == kDismissQuestionMessage) {
        DismissQuitConfirmation();
        return 0;
    }
    switch (message) {
    case WM_NCDESTROY:
        m_window = nullptr;
        break;
    case WM_QUERYDRAGICON:
        return reinterpret_cast<LRESULT>(m_hIcon);
    case WM_MOVE:
        Default();
        Invalidate(TRUE);
        return 0;
    case WM_NOTIFY: {
        const NMHDR* header = reinterpret_cast<const NMHDR*>(lParam);
        if (header && header->idFrom == IDC_PROGRESS && header->code == NM_CUSTOMDRAW) {
            Invalidate(TRUE);
            ::UpdateWindow(m_hWnd);
            return 0;
        }
        break;
    }
    case WM_MOUSEMOVE:
        OnMouseMove();
        return 0;
    }
    return CBitmapDialog::WindowProc(message, wParam, lParam);
}

BOOL DependencyDialog::IsCloseBlocked()
{
    CCriticalSectionLock lock(m_lock);
    return m_bCloseBlocked;
}

void DependencyDialog::OnClose()
{
    if (IsCloseBlocked()) return;
    Default();  // asks the dialog to cancel; OnCancel does nothing, so it stays
    AbortRequested = true;
}

void DependencyDialog::OnCloseControl()
{
    if (IsCloseBlocked()) return;
    if (!AskQuitConfirmation(this)) return;
    // The downloads may have finished (and closing been locked) while the question was open.
    if (IsCloseBlocked()) return;
    Default();
    AbortRequested = true;
}

void DependencyDialog::OnMouseMove()
{
    ShowRestingImage(m_closeButton);
    Default();
}

void DependencyDialog::RepaintUnder(HWND control)
{
    if (!control || !m_hWnd) return;
    RECT r{};
    ::GetWindowRect(control, &r);
    ::MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&r), 2);
    ::RedrawWindow(m_hWnd, &r, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

void DependencyDialog::SetHeaderTexts(std::wstring caption, std::wstring body)
{
    ::SetWindowTextW(m_caption.m_hWnd, caption.c_str());
    ::SetWindowTextW(m_body.m_hWnd, body.c_str());
    RepaintUnder(m_body.m_hWnd);
}

void DependencyDialog::SetStatusTexts(std::wstring boldLine, std::wstring progressLine)
{
    HWND bold = ::GetDlgItem(m_hWnd, IDC_HEADLINE);
    HWND progress = ::GetDlgItem(m_hWnd, IDC_PROGRESS_LINE);
    ::SetWindowTextW(bold, boldLine.c_str());
    ::SetWindowTextW(progress, progressLine.c_str());
    RepaintUnder(bold);
}

void DependencyDialog::HideButton(BOOL blockClose, BOOL disableClose)
{
    CCriticalSectionLock lock(m_lock);
    Log("HideButton Locked...");
    m_bCloseBlocked = blockClose;
    m_closeButton.m_bDisabled = disableClose;
}

void DependencyDialog::RequestEnd()
{
    PostEndDialog(0);
    // Before the window exists no question can be open, and the end request is kept for it.
    if (HWND window = m_window.load()) ::PostMessageW(window, kDismissQuestionMessage, 0, 0);
}

void DependencyDialog::DismissQuitConfirmation()
{
    // The confirmation runs on this thread, owned by this dialog; the notices beside the proxy
    // dialogs belong to the download thread and are not touched.
    OwnedDialogSearch search{m_hWnd, nullptr};
    ::EnumThreadWindows(::GetCurrentThreadId(), FindOwnedDialog, reinterpret_cast<LPARAM>(&search));
    if (search.found) ::EndDialog(search.found, 0);
}
