#include "ui/controls/bitmap_dialog.h"

#include <shlwapi.h>

#include <algorithm>

#include "resources/resource.h"
#include "support/localized_text.h"
#include "ui/controls/bmp_button.h"
#include "ui/controls/skin_images.h"

std::wstring DialogText(const wchar_t* key) { return LocalizedText::Instance(L"en-GB")->GetText(key); }

CBitmapDialog::CBitmapDialog(UINT templateId, CWnd* parent)
    : CDialog(templateId, parent),
      m_bTransparentStatics(TRUE),
      m_hNullBrush(static_cast<HBRUSH>(GetStockObject(NULL_BRUSH))),
      m_bDragMove(FALSE),
      m_bOwnsBackground(FALSE),
      m_bHasBackground(FALSE)
{
}

CBitmapDialog::~CBitmapDialog()
{
    // A modeless window still open goes now, while the fonts and brushes its controls use exist.
    if (m_hWnd && ::IsWindow(m_hWnd) && ::GetWindowThreadProcessId(m_hWnd, nullptr) == ::GetCurrentThreadId())
        ::DestroyWindow(m_hWnd);
    ReleaseBackground();
}

void CBitmapDialog::ReleaseBackground()
{
    if (m_bOwnsBackground) {
        m_pBackground.reset();
        m_bOwnsBackground = FALSE;
    }
    m_bHasBackground = FALSE;
}

BOOL CBitmapDialog::SetBackgroundFromFile(const std::wstring& path)
{
    ReleaseBackground();
    if (path.empty()) return FALSE;
    // The loaded image is only the source of the copy; it is freed when `loaded` goes.
    CBitmap loaded(static_cast<HBITMAP>(
        LoadImageW(nullptr, path.c_str(), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION | LR_LOADFROMFILE)));
    if (!loaded.GetSafeHandle()) return FALSE;
    SetBackgroundBitmap(&loaded);
    return TRUE;
}

BOOL CBitmapDialog::SetBackgroundBitmap(CBitmap* source)
{
    ReleaseBackground();
    BITMAP info{};
    if (!source || !source->GetBitmap(&info)) return FALSE;

    CCompatibleDC sourceDC(nullptr);
    CSelectObject sourceSelection(sourceDC, source->GetSafeHandle());
    auto copy = std::make_unique<CBitmap>();
    if (!copy->CreateCompatibleBitmap(sourceDC, info.bmWidth, info.bmHeight)) return FALSE;
    {
        CCompatibleDC targetDC(nullptr);
        CSelectObject targetSelection(targetDC, copy->GetSafeHandle());
        targetDC.BitBlt(0, 0, info.bmWidth, info.bmHeight, sourceDC, 0, 0, SRCCOPY);
    }
    m_pBackground = std::move(copy);
    m_bOwnsBackground = TRUE;
    m_bHasBackground = TRUE;
    ResetWindowRegion();
    return TRUE;
}

void CBitmapDialog::ResetWindowRegion()
{
    if (!m_hWnd) return;
    RECT window{};
    GetWindowRect(&window);
    CRgn region;
    if (region.CreateRectRgn(0, 0, window.right - window.left, window.bottom - window.top)) {
        if (::SetWindowRgn(m_hWnd, region, TRUE)) region.Detach();  // the window owns it now
    }
}

void CBitmapDialog::RunSkinSetup(const SkinSetup& setup)
{
    m_pCloseControl = setup.closeControl;
    m_closeMatch = setup.closeMatch;
    m_bAnswerButtons = setup.answerButtons;
    m_confirmQuit = setup.confirmQuit;
    m_colours = setup.colours;
    SendMessage(WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    SendMessage(WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));

    if (setup.background) SetSkinBackground(setup.background);
    AfterSkinStep(SkinStep::Background);

    EnableSkinBehaviour();
    AfterSkinStep(SkinStep::Behaviour);

    std::vector<CFont*> fonts;
    for (size_t i = 0; i < setup.fonts.count; ++i) {
        const SkinFont& font = setup.fonts.rows[i];
        fonts.push_back(CreateSkinFont(font.height, font.weight, font.faceName));
    }
    for (size_t i = 0; i < setup.texts.count; ++i) {
        const SkinText& row = setup.texts.rows[i];
        if (setup.singleButtonAt && row.id == IDCANCEL) continue;
        CFont* font = row.font >= 0 && static_cast<size_t>(row.font) < fonts.size() ? fonts[row.font] : nullptr;
        SetSkinText(row.id, row.key ? DialogText(row.key) : row.text ? *row.text : std::wstring(), font);
    }
    if (setup.singleButtonAt) {
        if (CWnd* second = GetDlgItem(IDCANCEL)) {
            second->ShowWindow(SW_HIDE);
            if (CWnd* first = GetDlgItem(IDOK)) {
                RECT r{};
                first->GetClientRect(&r);
                first->SetWindowPos(&CWnd::wndTop, setup.singleButtonAt->x, setup.singleButtonAt->y + (r.right - r.left),
                                    0, 0, SWP_NOSIZE);
            }
        }
    }
    AfterSkinStep(SkinStep::Texts);

    if (m_pCloseControl) LoadCloseControlImages(*m_pCloseControl);
    AfterSkinStep(SkinStep::CloseControl);

    ApplyRoundedRegion();
    AfterSkinStep(SkinStep::RoundedRegion);

    PlaceDialog(setup.placement);
    AfterSkinStep(SkinStep::Placement);
}

void CBitmapDialog::PlaceDialog(SkinPlacement placement)
{
    CWnd* owner = placement == SkinPlacement::Screen ? nullptr : GetParent();
    if (placement != SkinPlacement::OwnerCorner) {
        if (owner)
            CenterOnWindow(owner);
        else
            CenterOnWindow(::GetDesktopWindow());
    } else if (owner) {
        RECT r{};
        owner->GetWindowRect(&r);
        SetWindowPos(&CWnd::wndTop, r.left, r.top, 0, 0, SWP_NOSIZE);
    } else {
        CenterWindow();
    }
}

std::wstring CBitmapDialog::SkinImagePath(const std::wstring& imageName) { return SkinImageFilePath(imageName); }

BOOL CBitmapDialog::SetSkinBackground(const std::wstring& imageName)
{
    ReleaseBackground();
    // The loaded image is only the source of the copy; it is freed when `loaded` goes.
    CBitmap loaded(LoadSkinImage(imageName.c_str()));
    if (!loaded.GetSafeHandle()) return FALSE;
    SetBackgroundBitmap(&loaded);
    return TRUE;
}

void CBitmapDialog::EnableSkinBehaviour()
{
    m_bTransparentStatics = TRUE;
    m_bDragMove = TRUE;
}

CFont* CBitmapDialog::CreateSkinFont(int height, int weight, const wchar_t* faceName)
{
    LOGFONTW logFont{};
    logFont.lfHeight = height;
    logFont.lfWeight = weight;
    if (faceName) ::StrCpyNW(logFont.lfFaceName, faceName, LF_FACESIZE);
    auto font = std::make_unique<CFont>();
    if (!font->CreateFontIndirect(&logFont)) return nullptr;
    m_fonts.push_back(std::move(font));
    return m_fonts.back().get();
}

void CBitmapDialog::SetSkinText(int id, const std::wstring& text, CFont* font)
{
    HWND control = ::GetDlgItem(m_hWnd, id);
    if (!control) return;
    if (font) ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font->GetSafeHandle()), TRUE);
    ::SetWindowTextW(control, text.c_str());
}

void CBitmapDialog::LoadCloseControlImages(CBmpButton& closeControl)
{
    closeControl.SetBitmaps(LoadSkinImage(kSkinCloseNormal), LoadSkinImage(kSkinCloseMouseOver),
                            LoadSkinImage(kSkinClosePressed), LoadSkinImage(kSkinCloseDisabled));
}

void CBitmapDialog::ApplyRoundedRegion()
{
    if (!m_hWnd) return;
    RECT window{};
    GetWindowRect(&window);
    CRgn region;
    if (region.CreateRoundRectRgn(0, 0, window.right - window.left, window.bottom - window.top, 21, 21)) {
        if (::SetWindowRgn(m_hWnd, region, TRUE)) region.Detach();
    }
}

void CBitmapDialog::CenterOnWindow(HWND reference)
{
    if (!reference || !m_hWnd) return;
    RECT area{};
    if (!::GetWindowRect(reference, &area)) return;
    RECT client{};
    GetClientRect(&client);
    int x = (area.left + area.right) / 2 - (client.right - client.left) / 2;
    int y = (area.top + area.bottom) / 2 - (client.bottom - client.top) / 2;
    SetWindowPos(&CWnd::wndTop, x, y, -1, -1, SWP_NOSIZE);
}

HBRUSH CBitmapDialog::SolidBrush(COLORREF colour)
{
    for (auto& entry : m_brushes)
        if (entry.first == colour) return entry.second;
    CBrush brush;
    if (!brush.CreateSolidBrush(colour)) return m_hNullBrush;
    m_brushes.emplace_back(colour, std::move(brush));
    return m_brushes.back().second;
}

void CBitmapDialog::OnCloseControl()
{
    if (m_confirmQuit && m_confirmQuit(this)) OnClose();
}

void CBitmapDialog::OnClose() { Default(); }

void CBitmapDialog::OnMouseMove()
{
    // The close control does not track the pointer leaving it; the dialog puts it back to rest:
    // the disabled image while it is disabled, else the normal one.
    m_pCloseControl->ChangeBitMap(m_pCloseControl->m_bDisabled ? m_pCloseControl->m_hDisabledImage
                                                               : m_pCloseControl->m_hNormalImage);
    Default();
}

bool CBitmapDialog::RouteCloseMessages(UINT message, WPARAM wParam)
{
    switch (message) {
    case WM_COMMAND:
        if (LOWORD(wParam) != IDC_CLOSE_CONTROL || HIWORD(wParam) != STN_CLICKED) return false;
        OnCloseControl();
        return true;
    case WM_SYSCOMMAND:
        if ((m_closeMatch == SysCloseMatch::Exact ? wParam : (wParam & 0xFFF0)) != SC_CLOSE) return false;
        OnCloseControl();
        return true;
    case WM_CLOSE:
        OnClose();
        return true;
    default:
        return false;
    }
}

LRESULT CBitmapDialog::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (m_pCloseControl) {
        if (RouteCloseMessages(message, wParam)) return 0;
        switch (message) {
        case WM_QUERYDRAGICON:
            return reinterpret_cast<LRESULT>(OnQueryDragIcon());
        case WM_MOUSEMOVE:
            OnMouseMove();
            return 0;
        }
    }
    if (m_bAnswerButtons && message == WM_COMMAND && HIWORD(wParam) == BN_CLICKED) {
        switch (LOWORD(wParam)) {
        case IDOK:
            OnFirstButton();
            return 0;
        case IDCANCEL:
            OnSecondButton();
            return 0;
        }
    }
    switch (message) {
    case WM_ERASEBKGND: {
        CDC dc(reinterpret_cast<HDC>(wParam));
        return OnEraseBkgnd(&dc);
    }
    case WM_LBUTTONDOWN:
        OnLButtonDown(static_cast<UINT>(wParam), PointFromLParam(lParam));
        return 0;
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC: {
        CDC dc(reinterpret_cast<HDC>(wParam));
        CWnd* control = WrapHandle(reinterpret_cast<HWND>(lParam));
        const UINT ctlColor = message - WM_CTLCOLORMSGBOX;
        HBRUSH brush = OnCtlColor(&dc, control, ctlColor);
        if (m_colours.count) brush = ColourByTable(&dc, control, ctlColor, brush);
        return reinterpret_cast<LRESULT>(brush);
    }
    }
    return CDialog::WindowProc(message, wParam, lParam);
}

BOOL CBitmapDialog::OnEraseBkgnd(CDC* dc)
{
    if (!m_bHasBackground || !m_pBackground) return static_cast<BOOL>(Default());
    RECT client{};
    GetClientRect(&client);
    int width = client.right - client.left, height = client.bottom - client.top;
    BITMAP info{};
    m_pBackground->GetBitmap(&info);
    // Drawn at its own size from the top-left corner: a smaller image is not stretched, and the
    // part it does not cover gets the ordinary dialog background rather than undefined pixels.
    if (info.bmWidth < width || info.bmHeight < height) Default();
    CCompatibleDC memory(dc->GetSafeHdc());
    CSelectObject selection(memory, m_pBackground->GetSafeHandle());
    dc->BitBlt(0, 0, std::min<int>(width, info.bmWidth), std::min<int>(height, info.bmHeight), memory, 0, 0, SRCCOPY);
    return TRUE;
}

void CBitmapDialog::OnLButtonDown(UINT, POINT point)
{
    Default();
    if (m_bDragMove)
        ::PostMessageW(m_hWnd, WM_NCLBUTTONDOWN, HTCAPTION, MAKELPARAM(point.x, point.y));
}

HBRUSH CBitmapDialog::OnCtlColor(CDC* dc, CWnd* control, UINT ctlColor)
{
    HBRUSH brush = CDialog::OnCtlColor(dc, control, ctlColor);
    if (!m_bTransparentStatics || ctlColor != CTLCOLOR_STATIC || !control) return brush;
    wchar_t className[256] = {};
    ::GetClassNameW(control->m_hWnd, className, 255);
    // Trackbars send CTLCOLOR_STATIC too but keep their normal colours.
    if (::StrCmpW(className, L"msctls_trackbar32") == 0) return brush;
    dc->SetBkMode(TRANSPARENT);
    return m_hNullBrush;
}

HBRUSH CBitmapDialog::ColourByTable(CDC* dc, CWnd* control, UINT ctlColor, HBRUSH baseAnswer)
{
    if (ctlColor != CTLCOLOR_STATIC) return baseAnswer;
    int id = 0;
    if (control && control->m_hWnd && ::GetParent(control->m_hWnd) == m_hWnd) id = ::GetDlgCtrlID(control->m_hWnd);
    COLORREF background = RGB(255, 255, 255);
    COLORREF text = RGB(0, 0, 0);
    for (size_t i = 0; i < m_colours.count; ++i) {
        const LabelColours& row = m_colours.rows[i];
        if (row.id != id) continue;
        if (row.background == kKeepBaseAnswer) return baseAnswer;
        background = row.background;
        text = row.text;
        break;
    }
    dc->SetBkMode(OPAQUE);
    dc->SetBkColor(background);
    dc->SetTextColor(text);
    return SolidBrush(background);
}
