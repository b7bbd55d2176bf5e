#include "ui/controls/hyperlink.h"

#include <oleacc.h>

#include "ui/controls/accessible.h"
#include "ui/controls/browser.h"
#include "ui/controls/portable/display_scale.h"

namespace {
constexpr UINT_PTR kToolId = 1;
constexpr UINT kHoverRedraw = RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW;
}  // namespace

CHyperLink::CHyperLink() : m_crLink(RGB(0, 0, 238)), m_crHover(GetSysColor(COLOR_HIGHLIGHT)) {}

CHyperLink::~CHyperLink()
{
    if (m_hWnd && ::IsWindow(m_hWnd)) SetFont(nullptr, FALSE);  // the control must not keep a freed font
    if (m_hHandCursor) {
        if (::GetCursor() == m_hHandCursor) ::SetCursor(::LoadCursorW(nullptr, IDC_ARROW));
        ::DestroyCursor(m_hHandCursor);
    }
}

void CHyperLink::PreSubclassWindow()
{
    ::SetWindowLongW(m_hWnd, GWL_STYLE, ::GetWindowLongW(m_hWnd, GWL_STYLE) | SS_NOTIFY);
    std::wstring text = GetWindowText();
    if (m_strTarget.empty()) m_strTarget = text;
    if (text.empty()) SetWindowText(m_strTarget);

    LOGFONTW logFont{};
    if (HFONT current = GetFont()) ::GetObjectW(current, sizeof(logFont), &logFont);
    logFont.lfUnderline = m_bUnderline ? TRUE : FALSE;
    SetLinkFont(logFont);

    FitWindowToText();
    LoadHandCursor();

    if (m_toolTip.Create(this, 0)) {
        RECT client{};
        GetClientRect(&client);
        m_toolTip.AddTool(this, m_strTarget, &client, kToolId);
    }
}

void CHyperLink::SetLinkFont(LOGFONTW logFont)
{
    CFont font;
    if (!font.CreateFontIndirect(&logFont)) return;
    SetFont(font, TRUE);
    m_font = std::move(font);  // the previous font goes only after the control let it go
    m_originalFont = logFont;
    m_nOriginalFontDpi = 0;  // the DPI is the parent's, known once the parent first changes it
}

void CHyperLink::OnParentDpiChanged(UINT oldDpi, UINT newDpi)
{
    if (!m_font.GetSafeHandle()) return;
    if (!m_nOriginalFontDpi) m_nOriginalFontDpi = oldDpi;
    // Made from the original each time, so that a return to its DPI gives it back exactly.
    LOGFONTW logFont = m_originalFont;
    logFont.lfHeight = RescaleLength(logFont.lfHeight, static_cast<int>(m_nOriginalFontDpi), static_cast<int>(newDpi));
    logFont.lfWidth = RescaleLength(logFont.lfWidth, static_cast<int>(m_nOriginalFontDpi), static_cast<int>(newDpi));
    CFont font;
    if (!font.CreateFontIndirect(&logFont)) return;
    // A font the parent gave the link is the parent's to scale; only the link's own is replaced.
    if (GetFont() == m_font.GetSafeHandle()) SetFont(font, TRUE);
    m_font = std::move(font);
    FitWindowToText();
    RECT client{};
    GetClientRect(&client);
    m_toolTip.SetToolRect(this, kToolId, client);
}

void CHyperLink::SetLinkTarget(const std::wstring& target)
{
    m_strTarget = target;
    if (!IsWindow()) return;
    FitWindowToText();
    m_toolTip.UpdateTipText(m_strTarget, this, kToolId);
}

void CHyperLink::ClearUnderline()
{
    m_bUnderline = FALSE;
    if (!IsWindow()) return;
    LOGFONTW logFont{};
    if (HFONT current = GetFont()) ::GetObjectW(current, sizeof(logFont), &logFont);
    logFont.lfUnderline = FALSE;
    SetLinkFont(logFont);
    Invalidate(TRUE);
}

void CHyperLink::FitWindowToText()
{
    if (!IsWindow() || !m_bFitToText) return;
    RECT rect{};
    GetWindowRect(&rect);
    if (HWND parent = ::GetParent(m_hWnd)) ::MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);

    SIZE extent{};
    {
        CClientDC dc(m_hWnd);
        CSelectObject selection(dc, m_font.GetSafeHandle());
        extent = dc.GetTextExtent(GetWindowText());
    }

    DWORD style = GetStyle();
    if (style & SS_CENTERIMAGE)
        ::InflateRect(&rect, 0, -((rect.bottom - rect.top) - extent.cy) / 2);
    else
        rect.bottom = rect.top + extent.cy;

    switch (style & SS_TYPEMASK) {
    case SS_CENTER:
        ::InflateRect(&rect, -((rect.right - rect.left) - extent.cx) / 2, 0);
        break;
    case SS_RIGHT:
        rect.left = rect.right - extent.cx;
        break;
    default:
        rect.right = rect.left + extent.cx;
        break;
    }
    SetWindowPos(nullptr, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, SWP_NOZORDER);
}

void CHyperLink::LoadHandCursor()
{
    if (m_hHandCursor) return;
    static const wchar_t kModule[] = L"\\winhlp32.exe";
    wchar_t path[MAX_PATH] = {};
    UINT length = ::GetWindowsDirectoryW(path, MAX_PATH);
    if (length == 0 || length + (sizeof(kModule) / sizeof(wchar_t)) > MAX_PATH) return;
    lstrcatW(path, kModule);
    // Loaded for its resources only: nothing of that program runs in this process.
    HMODULE module = ::LoadLibraryExW(path, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!module) return;
    if (HCURSOR cursor = ::LoadCursorW(module, MAKEINTRESOURCEW(106))) m_hHandCursor = ::CopyIcon(cursor);
    ::FreeLibrary(module);
}

bool CHyperLink::OpenLinkTarget(const std::wstring& target) { return OpenInBrowser(target); }

LRESULT CHyperLink::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == AccessibleMessage() && lParam) {
        if (static_cast<LONG>(wParam) != OBJID_CLIENT) return FALSE;
        auto* facts = reinterpret_cast<AccessibleFacts*>(lParam);
        facts->role = ROLE_SYSTEM_LINK;
        facts->hasValue = true;
        facts->value = m_strTarget;
        facts->defaultAction = L"Jump";
        facts->doesDefaultAction = true;
        facts->stateAdded = STATE_SYSTEM_LINKED;
        facts->stateRemoved = STATE_SYSTEM_READONLY;
        return TRUE;
    }
    if (message == AccessibleMessage()) {
        OnClicked();
        return 0;
    }
    switch (message) {
    case WM_GETOBJECT:
        if (LRESULT answer = AnswerGetObject(m_hWnd, wParam, lParam)) return answer;
        break;
    case WM_REFLECT_BASE + WM_COMMAND:
        if (HIWORD(wParam) == STN_CLICKED) {
            OnClicked();
            return 0;
        }
        break;
    case WM_REFLECT_BASE + WM_CTLCOLORMSGBOX:
    case WM_REFLECT_BASE + WM_CTLCOLOREDIT:
    case WM_REFLECT_BASE + WM_CTLCOLORLISTBOX:
    case WM_REFLECT_BASE + WM_CTLCOLORBTN:
    case WM_REFLECT_BASE + WM_CTLCOLORDLG:
    case WM_REFLECT_BASE + WM_CTLCOLORSCROLLBAR:
    case WM_REFLECT_BASE + WM_CTLCOLORSTATIC: {
        CDC dc(reinterpret_cast<HDC>(wParam));
        return reinterpret_cast<LRESULT>(CtlColor(&dc));
    }
    case WM_SETCURSOR:
        if (OnSetCursor()) return TRUE;
        return Default();
    case WM_MOUSEMOVE:
        Default();
        OnMouseMove(PointFromLParam(lParam));
        return 0;
    case WM_CAPTURECHANGED:
        // Capture taken away by someone else: the move that leaves the link will not come.
        if (m_bHover && reinterpret_cast<HWND>(lParam) != m_hWnd) {
            m_bHover = FALSE;
            RedrawWindow(nullptr, nullptr, kHoverRedraw);
        }
        return Default();
    }
    return CStatic::WindowProc(message, wParam, lParam);
}

void CHyperLink::OnClicked() { OpenLinkTarget(m_strTarget); }

HBRUSH CHyperLink::CtlColor(CDC* dc)
{
    dc->SetTextColor(m_bHover ? m_crHover : m_crLink);
    dc->SetBkMode(TRANSPARENT);
    return static_cast<HBRUSH>(::GetStockObject(NULL_BRUSH));
}

BOOL CHyperLink::OnSetCursor()
{
    if (!m_hHandCursor) return FALSE;
    ::SetCursor(m_hHandCursor);
    return TRUE;
}

void CHyperLink::OnMouseMove(POINT point)
{
    if (m_bHover) {
        RECT client{};
        GetClientRect(&client);
        if (!::PtInRect(&client, point)) {
            m_bHover = FALSE;
            ::ReleaseCapture();
            RedrawWindow(nullptr, nullptr, kHoverRedraw);
        }
    } else {
        m_bHover = TRUE;
        RedrawWindow(nullptr, nullptr, kHoverRedraw);
        ::SetCapture(m_hWnd);
    }
}
