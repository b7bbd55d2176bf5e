#include "ui/controls/bitmap_dialog.h"

#include <oleacc.h>
#include <shlwapi.h>

#include <algorithm>

#include "resources/resource.h"
#include "support/localized_text.h"
#include "ui/controls/bmp_button.h"
#include "ui/controls/display_scale.h"
#include "ui/controls/skin_images.h"

const wchar_t kCloseControlNameKey[] = L"CLOSE_CONTROL";

std::wstring DialogText(const wchar_t* key) { return LocalizedText::Instance(L"en-GB")->GetText(key); }

namespace {
// The corner ellipse of the window shape at the reference DPI.
constexpr int kCornerEllipse = 21;

RECT ChildRect(HWND parent, HWND child)
{
    RECT r{};
    ::GetWindowRect(child, &r);
    ::MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

// The base units of `font` (the dialog's) at the reference DPI, measured the way the dialog
// manager measures them: the average width of the Latin letters and the cell height.
SIZE ReferenceBaseUnits(const LOGFONTW& reference)
{
    CFont font;
    if (!font.CreateFontIndirect(&reference)) return SIZE{0, 0};
    CCompatibleDC dc(nullptr);
    if (!dc.GetSafeHdc()) return SIZE{0, 0};
    CSelectObject selection(dc, font.GetSafeHandle());
    TEXTMETRICW metrics{};
    SIZE letters{};
    static const wchar_t kLetters[] = L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    if (!::GetTextMetricsW(dc, &metrics) || !::GetTextExtentPoint32W(dc, kLetters, 52, &letters)) return SIZE{0, 0};
    return SIZE{(letters.cx / 26 + 1) / 2, metrics.tmHeight};
}
}  // namespace

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

    // Sized for the window's DPI first: the skin is chosen for that size.
    TakeOverDialogDpiChanges(m_hWnd);
    ScaleLayout(WindowDpi(m_hWnd));

    m_backgroundName = setup.background;
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
            if (HWND first = ::GetDlgItem(m_hWnd, IDOK)) {
                // (x, y + the button's width), keeping its size, all at the reference DPI.
                const RECT r = ReferenceRect(first);
                const int width = r.right - r.left, height = r.bottom - r.top;
                const int x = setup.singleButtonAt->x, y = setup.singleButtonAt->y + width;
                ::SetWindowPos(first, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
                PlaceControl(first, RECT{x, y, x + width, y + height});
            }
        }
    }
    m_nNameId = setup.nameId;
    if (setup.nameId) {
        if (CWnd* name = GetDlgItem(setup.nameId)) SetWindowText(name->GetWindowText());
    }
    for (size_t i = 0; i < setup.labels.count; ++i) {
        HWND label = ::GetDlgItem(m_hWnd, setup.labels.rows[i].labelId);
        HWND control = ::GetDlgItem(m_hWnd, setup.labels.rows[i].controlId);
        if (!label || !control || label == control) continue;
        HWND before = ::GetWindow(control, GW_HWNDPREV);
        if (before == label) continue;
        ::SetWindowPos(label, before ? before : HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    }
    AfterSkinStep(SkinStep::Texts);

    if (m_pCloseControl) {
        m_pCloseControl->m_strAccessibleName = DialogText(kCloseControlNameKey);
        LoadCloseControlImages(*m_pCloseControl, Dpi());
    }
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
    m_nSkinSet = 0;
    RECT client{};
    if (m_hWnd) GetClientRect(&client);
    const SIZE fit{client.right, client.bottom};
    int set = 0;
    // The loaded image is only the source of the copy; it is freed when `loaded` goes.
    CBitmap loaded(LoadSkinImageForDpi(imageName.c_str(), Dpi(), &fit, &set));
    if (!loaded.GetSafeHandle()) return FALSE;
    SetBackgroundBitmap(&loaded);
    m_nSkinSet = m_bHasBackground ? set : 0;
    return TRUE;
}

void CBitmapDialog::EnableSkinBehaviour()
{
    m_bTransparentStatics = TRUE;
    m_bDragMove = TRUE;
}

namespace {
int LineHeight(HFONT font)
{
    CCompatibleDC dc(nullptr);
    if (!dc.GetSafeHdc()) return 0;
    CSelectObject selection(dc, font);
    TEXTMETRICW metrics{};
    return ::GetTextMetricsW(dc, &metrics) ? metrics.tmHeight : 0;
}

bool MakeSkinFont(int height, int weight, const wchar_t* faceName, UINT dpi, CFont* font)
{
    LOGFONTW logFont{};
    logFont.lfHeight = ScaleFontHeight(height, static_cast<int>(dpi));
    logFont.lfWeight = weight;
    if (faceName) ::StrCpyNW(logFont.lfFaceName, faceName, LF_FACESIZE);
    if (!font->CreateFontIndirect(&logFont)) return false;
    // Off the reference scale a font may come out a pixel taller than its cell height asks (the
    // font engine rounds to whole pixel sizes): a text that fills its box to the last line at
    // 96 dpi would then lose that line. Such a font is made a pixel smaller.
    if (dpi != kReferenceDpi && logFont.lfHeight > 1 && LineHeight(*font) > logFont.lfHeight) {
        --logFont.lfHeight;
        CFont smaller;
        if (smaller.CreateFontIndirect(&logFont)) *font = std::move(smaller);
    }
    return true;
}
}  // namespace

CFont* CBitmapDialog::CreateSkinFont(int height, int weight, const wchar_t* faceName)
{
    OwnFont own{height, weight, faceName, std::make_unique<CFont>()};
    if (!MakeSkinFont(height, weight, faceName, Dpi(), own.font.get())) return nullptr;
    m_fonts.push_back(std::move(own));
    return m_fonts.back().font.get();
}

void CBitmapDialog::SetSkinText(int id, const std::wstring& text, CFont* font)
{
    HWND control = ::GetDlgItem(m_hWnd, id);
    if (!control) return;
    if (font) ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font->GetSafeHandle()), TRUE);
    ::SetWindowTextW(control, text.c_str());
}

void CBitmapDialog::LoadCloseControlImages(CBmpButton& closeControl, UINT dpi)
{
    if (!dpi) dpi = WindowDpi(closeControl.m_hWnd);
    closeControl.SetBitmaps(LoadSkinImageForDpi(kSkinCloseNormal, dpi), LoadSkinImageForDpi(kSkinCloseMouseOver, dpi),
                            LoadSkinImageForDpi(kSkinClosePressed, dpi), LoadSkinImageForDpi(kSkinCloseDisabled, dpi));
}

void CBitmapDialog::ApplyRoundedRegion()
{
    if (!m_hWnd) return;
    RECT window{};
    GetWindowRect(&window);
    CRgn region;
    const int corner = Scale(kCornerEllipse);
    if (region.CreateRoundRectRgn(0, 0, window.right - window.left, window.bottom - window.top, corner, corner)) {
        if (::SetWindowRgn(m_hWnd, region, TRUE)) region.Detach();
    }
}

UINT CBitmapDialog::Dpi() const { return m_nDpi ? m_nDpi : WindowDpi(m_hWnd); }

int CBitmapDialog::Scale(int length) const { return ScaleToDpi(length, static_cast<int>(Dpi())); }

void CBitmapDialog::CaptureReferenceLayout()
{
    m_bHasReferenceLayout = true;
    const UINT dpi = DialogManagerDpi(m_hWnd);
    // The base units the template was laid out with, and the dialog font's at the reference DPI.
    RECT units{0, 0, 4, 8};
    ::MapDialogRect(m_hWnd, &units);
    SIZE now{units.right, units.bottom};
    SIZE reference = now;
    LOGFONTW font{};
    HFONT dialogFont = reinterpret_cast<HFONT>(SendMessage(WM_GETFONT));
    if (dialogFont && ::GetObjectW(dialogFont, sizeof(font), &font)) {
        m_originalDialogFont = font;
        m_nOriginalFontDpi = dpi;
        m_bHasOriginalFont = true;
        font.lfHeight = ReferenceFontHeight(font.lfHeight, static_cast<int>(dpi));
        font.lfWidth = ScaleFromDpi(font.lfWidth, static_cast<int>(dpi));
        if (dpi != kReferenceDpi) {
            const SIZE measured = ReferenceBaseUnits(font);
            if (measured.cx > 0 && measured.cy > 0) reference = measured;
        }
    } else if (dpi != kReferenceDpi) {
        reference = SIZE{ScaleFromDpi(now.cx, static_cast<int>(dpi)), ScaleFromDpi(now.cy, static_cast<int>(dpi))};
    }
    // Dialog units back from pixels, then to pixels with the reference base units: exact for
    // everything the template placed (positions and sizes are mapped separately).
    auto x = [&](int pixels) { return ReferenceLength(pixels, now.cx, reference.cx, 4); };
    auto y = [&](int pixels) { return ReferenceLength(pixels, now.cy, reference.cy, 8); };
    RECT client{};
    GetClientRect(&client);
    m_referenceClient = SIZE{x(client.right), y(client.bottom)};
    m_layout.clear();
    for (HWND child = ::GetWindow(m_hWnd, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
        const RECT r = ChildRect(m_hWnd, child);
        const int left = x(r.left), top = y(r.top);
        m_layout.push_back({child, RECT{left, top, left + x(r.right - r.left), top + y(r.bottom - r.top)}});
    }
}

SIZE CBitmapDialog::ScaledClientSize(UINT dpi) const
{
    return SIZE{ScaleToDpi(m_referenceClient.cx, static_cast<int>(dpi)),
                ScaleToDpi(m_referenceClient.cy, static_cast<int>(dpi))};
}

void CBitmapDialog::ScaleLayout(UINT dpi, bool resizeDialog)
{
    if (!m_hWnd) return;
    if (!m_bHasReferenceLayout) CaptureReferenceLayout();
    m_nDpi = dpi;
    if (resizeDialog) {
        RECT window{}, client{};
        GetWindowRect(&window);
        GetClientRect(&client);
        const SIZE size = ScaledClientSize(dpi);
        const int width = size.cx + (window.right - window.left) - client.right;
        const int height = size.cy + (window.bottom - window.top) - client.bottom;
        if (width != window.right - window.left || height != window.bottom - window.top)
            SetWindowPos(nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    for (const ControlLayout& control : m_layout) PlaceControl(control.window, control.reference);
}

RECT CBitmapDialog::ReferenceRect(HWND control) const
{
    for (const ControlLayout& entry : m_layout)
        if (entry.window == control) return entry.reference;
    return RECT{0, 0, 0, 0};
}

void CBitmapDialog::PlaceControl(HWND control, const RECT& reference)
{
    if (!control || !::IsWindow(control)) return;
    bool known = false;
    for (ControlLayout& entry : m_layout) {
        if (entry.window != control) continue;
        entry.reference = reference;
        known = true;
    }
    if (!known) m_layout.push_back({control, reference});
    // Edges are scaled, not sizes, so that controls that meet at 96 dpi meet at every scale.
    const int left = Scale(reference.left), top = Scale(reference.top);
    const int right = Scale(reference.right), bottom = Scale(reference.bottom);
    const RECT now = ChildRect(m_hWnd, control);
    if (now.left == left && now.top == top && now.right == right && now.bottom == bottom) return;
    ::SetWindowPos(control, nullptr, left, top, right - left, bottom - top, SWP_NOZORDER | SWP_NOACTIVATE);
}

void CBitmapDialog::ReplaceFont(HFONT old, HFONT next)
{
    for (HWND child = ::GetWindow(m_hWnd, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT))
        if (reinterpret_cast<HFONT>(::SendMessageW(child, WM_GETFONT, 0, 0)) == old)
            ::SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(next), FALSE);
}

void CBitmapDialog::RebuildFonts(UINT dpi)
{
    // Each font is made for the new DPI and shown by its controls before the old one goes; the
    // same CFont objects keep them, so that pointers handed out stay good.
    for (OwnFont& own : m_fonts) {
        CFont fresh;
        if (!own.font || !MakeSkinFont(own.height, own.weight, own.faceName, dpi, &fresh)) continue;
        ReplaceFont(*own.font, fresh);
        own.font->Attach(fresh.Detach());
    }
    // The template's font, kept by fields and buttons without a skin font, is made from the
    // original each time, so that a return to its DPI gives it back exactly.
    HFONT dialogFont = m_dialogFont.GetSafeHandle() ? m_dialogFont.GetSafeHandle()
                                                    : reinterpret_cast<HFONT>(SendMessage(WM_GETFONT));
    if (!dialogFont || !m_bHasOriginalFont) return;
    LOGFONTW font = m_originalDialogFont;
    const int from = static_cast<int>(m_nOriginalFontDpi), to = static_cast<int>(dpi);
    font.lfHeight = RescaleLength(font.lfHeight, from, to);
    font.lfWidth = RescaleLength(font.lfWidth, from, to);
    CFont scaled;
    if (!scaled.CreateFontIndirect(&font)) return;
    ReplaceFont(dialogFont, scaled);
    m_dialogFont = std::move(scaled);
}

void CBitmapDialog::OnDpiChanged(UINT dpi, const RECT* suggested)
{
    if (!m_hWnd || !dpi) return;
    const UINT old = Dpi();
    if (suggested)
        SetWindowPos(nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                     suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
    ScaleLayout(dpi, suggested == nullptr);
    RebuildFonts(dpi);
    if (m_backgroundName) SetSkinBackground(m_backgroundName);
    if (m_pCloseControl) LoadCloseControlImages(*m_pCloseControl, dpi);
    ApplyRoundedRegion();
    for (HWND child = ::GetWindow(m_hWnd, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT))
        if (CWnd* object = CWnd::FromHandlePermanent(child)) object->OnParentDpiChanged(old, dpi);
    ::RedrawWindow(m_hWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_FRAME);
}

void CBitmapDialog::GetAccessibleFacts(LONG objectId, AccessibleFacts* facts)
{
    if (objectId != OBJID_WINDOW && objectId != OBJID_CLIENT) return;
    // Screen readers name a dialog by either object, depending on how they came to it.
    facts->role = ROLE_SYSTEM_DIALOG;
    facts->hasName = true;
    CWnd* heading = m_nNameId ? GetDlgItem(m_nNameId) : nullptr;
    facts->name = heading ? heading->GetWindowText() : GetWindowText();
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
    if (message == AccessibleMessage() && lParam) {
        GetAccessibleFacts(static_cast<LONG>(wParam), reinterpret_cast<AccessibleFacts*>(lParam));
        return TRUE;
    }
    switch (message) {
    case WM_GETOBJECT:
        // The window and its client area: the platform's objects, announced as the dialog it is.
        if (LRESULT answer = AnswerGetObject(m_hWnd, wParam, lParam, true)) return answer;
        break;
    case WM_DPICHANGED:
        OnDpiChanged(LOWORD(wParam), reinterpret_cast<const RECT*>(lParam));
        return 0;
    case WM_GETDPISCALEDSIZE:
        // The size for the new DPI is the skin's, not the old size scaled: the suggested
        // rectangle of the WM_DPICHANGED that follows is then exactly it.
        if (m_bHasReferenceLayout && lParam) {
            RECT window{}, client{};
            GetWindowRect(&window);
            GetClientRect(&client);
            const SIZE size = ScaledClientSize(static_cast<UINT>(wParam));
            auto* out = reinterpret_cast<SIZE*>(lParam);
            out->cx = size.cx + (window.right - window.left) - client.right;
            out->cy = size.cy + (window.bottom - window.top) - client.bottom;
            return TRUE;
        }
        break;
    }
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
