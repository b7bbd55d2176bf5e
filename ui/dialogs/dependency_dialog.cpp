#include "ui/dialogs/dependency_dialog.h"

#include <new>
#include <utility>

#include "support/shared_state.h"
#include "resources/resource.h"
#include "support/installer_log.h"
#include "ui/dialogs/dialog_common.h"
#include "ui/dialogs/smaller_dialog.h"

using namespace dialog_colours;

const wchar_t DependencyDialog::kProductTourUrl[] = L"http://www.tarvelo.com/r/1.3/product-tour";

namespace {
// Posted by RequestEnd: answer an open quit confirmation no, on the dialog's own thread.
constexpr UINT kDismissQuestionMessage = WM_APP + 0x51;
// Posted when texts or bar positions have been handed over: show them, on the dialog's thread.
constexpr UINT kApplyUpdatesMessage = WM_APP + 0x52;
// The texts that tell what is happening: live regions for screen readers.
constexpr int kLiveTexts[] = {IDC_CAPTION, IDC_BODY, IDC_HEADLINE, IDC_PROGRESS_LINE};
constexpr size_t kLiveTextCount = sizeof kLiveTexts / sizeof kLiveTexts[0];

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

DependencyDialog::~DependencyDialog()
{
    // What was handed over after the window went (or to a window that never came) goes with it.
    for (Update* update = m_pFirstUpdate; update;) {
        Update* next = update->next;
        delete update;
        update = next;
    }
}

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
    AbortRequested = false;

    // The feature font is the product layout's only.
    const SkinFont fonts[] = {{14, 700, L"Verdana"}, {14, 700, L"Verdana"}, {14, 0, L"Verdana"}, {15, 700, L"Arial"}};
    const SkinText dotNetTexts[] = {
        {IDC_CAPTION, 0, m_strCaption},
        {IDC_HEADLINE, 1, L"DOTNET_HYPERLINK_TEXT"},
        {IDC_PROGRESS_LINE, 1, L"PROGRESS_BAR_DOWNLOADING_TEXT"},
        {IDC_FEATURE1, kKeepFont, nullptr},
        {IDC_FEATURE2, kKeepFont, nullptr},
        {IDC_FEATURE3, kKeepFont, nullptr},
        {IDC_BODY, 2, m_strBody},
    };
    const SkinText productTexts[] = {
        {IDC_CAPTION, 0, m_strCaption},
        {IDC_HEADLINE, kKeepFont, nullptr},
        {IDC_TOUR_LINK, kKeepFont, nullptr},
        {IDC_PROGRESS_LINE, 1, L"PROGRESS_BAR_TARVELO"},
        {IDC_FEATURE1, 3, L"DOWNLOAD_CONTENT"},
        {IDC_FEATURE2, 3, L"BROWSE_SEARCH"},
        {IDC_FEATURE3, 3, L"SYNC_MOBILE"},
        {IDC_BODY, 2, m_strBody},
    };
    SkinSetup skin;
    skin.background = m_bDotNetMode ? kSkinSmallBackground : kSkinInstallBackground;
    skin.fonts = SkinRows<SkinFont>(fonts, m_bDotNetMode ? 3 : 4);
    if (m_bDotNetMode)
        skin.texts = dotNetTexts;
    else
        skin.texts = productTexts;
    skin.closeControl = &m_closeButton;
    skin.closeMatch = SysCloseMatch::Exact;  // only the plain Close command asks here
    skin.colours = m_bDotNetMode ? SkinRows<LabelColours>(kDotNetColours) : SkinRows<LabelColours>(kProductColours);
    skin.placement = SkinPlacement::Screen;
    skin.nameId = IDC_CAPTION;
    RunSkinSetup(skin);
    MarkTextsLive(true);
    // From now on updates are posted to the window; those handed over while it was on its way
    // are shown now, before an end requested meanwhile ends the dialog.
    {
        CCriticalSectionLock lock(m_updatesLock);
        m_window = m_hWnd;
    }
    ApplyHandedUpdates();
    return TRUE;
}

void DependencyDialog::MarkTextsLive(bool live)
{
    HWND texts[kLiveTextCount];
    for (size_t i = 0; i < kLiveTextCount; ++i) texts[i] = ::GetDlgItem(m_hWnd, kLiveTexts[i]);
    MarkLiveRegions(texts, kLiveTextCount, live);
}

void DependencyDialog::AfterSkinStep(SkinStep step)
{
    switch (step) {
    case SkinStep::Background:
        Log("Image loaded..");
        break;
    case SkinStep::Behaviour:
        if (m_progress.IsWindow() && m_progress.m_bShowPercent) m_progress.Invalidate(TRUE);
        m_progress.m_bShowPercent = FALSE;
        m_progress.m_crBar = kCaptionBand;
        break;
    case SkinStep::Texts:
        if (m_bDotNetMode) {
            m_link.SetWindowText(DialogText(L"URL_LABEL2"));
            m_link.SetLinkTarget(kProductTourUrl);
            m_link.ClearUnderline();
        } else {
            // The empty link line lies across the feature texts and paints itself cream over
            // them; hidden, it neither covers them nor opens an empty address when clicked.
            m_link.ShowWindow(SW_HIDE);
        }
        Log("Caption & Body text loaded..");
        Log("All strings loaded with proper text");
        break;
    case SkinStep::CloseControl:
        Log("all Croxx Images loaded...");
        break;
    case SkinStep::RoundedRegion:
        Log("Rounded Rectangle carved...");
        break;
    case SkinStep::Placement:
        Log("Window position set...");
        break;
    }
}

LRESULT DependencyDialog::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == kDismissQuestionMessage) {
        DismissQuitConfirmation();
        return 0;
    }
    if (message == kApplyUpdatesMessage) {
        ApplyHandedUpdates();
        return 0;
    }
    switch (message) {
    case WM_DESTROY:
        MarkTextsLive(false);
        break;
    case WM_NCDESTROY:
        m_window = nullptr;
        break;
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
    Hand(new (std::nothrow) Update{Update::Kind::Header, 0, std::move(caption), std::move(body)});
}

void DependencyDialog::SetStatusTexts(std::wstring boldLine, std::wstring progressLine)
{
    Hand(new (std::nothrow) Update{Update::Kind::Status, 0, std::move(boldLine), std::move(progressLine)});
}

void DependencyDialog::SetProgressPos(int position)
{
    Hand(new (std::nothrow) Update{Update::Kind::Position, position, {}, {}});
}

void DependencyDialog::Hand(Update* update)
{
    // Out of memory: this text or position is not shown, and the download goes on.
    if (!update) return;
    HWND window = nullptr;
    bool post = false;
    {
        CCriticalSectionLock lock(m_updatesLock);
        (m_pLastUpdate ? m_pLastUpdate->next : m_pFirstUpdate) = update;
        m_pLastUpdate = update;
        // Before the window exists the list waits for it (the set-up shows it).
        window = m_window.load();
        post = window && !m_bApplyPosted;
        if (post) m_bApplyPosted = true;
    }
    // One message carries everything handed over until the dialog's thread takes it. A message
    // that could not be posted is asked for again by the next update, and by the end request.
    if (post && !::PostMessageW(window, kApplyUpdatesMessage, 0, 0)) {
        CCriticalSectionLock lock(m_updatesLock);
        m_bApplyPosted = false;
    }
}

void DependencyDialog::ApplyHandedUpdates()
{
    Update* update = nullptr;
    {
        CCriticalSectionLock lock(m_updatesLock);
        update = m_pFirstUpdate;
        m_pFirstUpdate = m_pLastUpdate = nullptr;
        m_bApplyPosted = false;
    }
    // Each in turn, the bar painted at each position, as it was given.
    while (update) {
        switch (update->kind) {
        case Update::Kind::Position:
            m_progress.SetPos(update->position);
            break;
        case Update::Kind::Header:
            ShowHeaderTexts(update->first, update->second);
            break;
        case Update::Kind::Status:
            ShowStatusTexts(update->first, update->second);
            break;
        }
        Update* done = update;
        update = update->next;
        delete done;
    }
}

void DependencyDialog::ShowHeaderTexts(const std::wstring& caption, const std::wstring& body)
{
    // Each text that changes is announced, so that a screen reader follows the installation.
    SetTextAnnounced(m_caption.m_hWnd, caption, Announce::LiveRegion);
    SetTextAnnounced(m_body.m_hWnd, body, Announce::LiveRegion);
    // The caption names the dialog.
    ::SetWindowTextW(m_hWnd, caption.c_str());
    RepaintUnder(m_body.m_hWnd);
}

void DependencyDialog::ShowStatusTexts(const std::wstring& boldLine, const std::wstring& progressLine)
{
    HWND bold = ::GetDlgItem(m_hWnd, IDC_HEADLINE);
    HWND progress = ::GetDlgItem(m_hWnd, IDC_PROGRESS_LINE);
    SetTextAnnounced(bold, boldLine, Announce::LiveRegion);
    SetTextAnnounced(progress, progressLine, Announce::LiveRegion);
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
    // Whatever was handed over is shown before the end: the messages leave the queue in order.
    if (HWND window = m_window.load()) ::PostMessageW(window, kApplyUpdatesMessage, 0, 0);
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
