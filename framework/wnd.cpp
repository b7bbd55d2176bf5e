#include "framework/wnd.h"

#include <commctrl.h>

#include "framework/gdi.h"

namespace {
constexpr UINT_PTR kSubclassId = 0x54564C;  // one subclass of ours per window
// The bound object, subclassed control or dialog alike, is kept as a window property, so any
// window can be asked for it.
constexpr const wchar_t* kObjectProperty = L"Tarvelo.Framework.CWnd";

bool IsDirectChildOnThisThread(HWND child, HWND parent)
{
    return child && parent && child != parent && ::GetAncestor(child, GA_PARENT) == parent &&
           ::GetWindowThreadProcessId(child, nullptr) == ::GetCurrentThreadId();
}
}  // namespace

const CWnd CWnd::wndTop(HWND_TOP);
const CWnd CWnd::wndBottom(HWND_BOTTOM);
const CWnd CWnd::wndTopMost(HWND_TOPMOST);
const CWnd CWnd::wndNoTopMost(HWND_NOTOPMOST);

CWnd::CWnd() = default;

CWnd::CWnd(HWND special) : m_hWnd(special) {}

CWnd::~CWnd()
{
    if (m_hWnd && ::IsWindow(m_hWnd)) {
        if (m_bSubclassed) {
            ::RemoveWindowSubclass(m_hWnd, SubclassProc, kSubclassId);
            UnbindObject(m_hWnd);
        }
        if (m_bOwnsWindow) ::DestroyWindow(m_hWnd);
    }
}

BOOL CWnd::Attach(HWND window)
{
    if (m_hWnd || !window) return FALSE;
    m_hWnd = window;
    m_bOwnsWindow = false;
    m_bSubclassed = false;
    return TRUE;
}

HWND CWnd::Detach()
{
    HWND window = m_hWnd;
    if (m_bSubclassed) UnsubclassWindow();
    m_hWnd = nullptr;
    m_bOwnsWindow = false;
    return window;
}

BOOL CWnd::SubclassWindow(HWND window)
{
    if (m_hWnd || !window || !::IsWindow(window) || FromHandlePermanent(window)) return FALSE;
    m_hWnd = window;
    PreSubclassWindow();
    if (!BindObject(window, this)) {
        m_hWnd = nullptr;
        return FALSE;
    }
    if (!::SetWindowSubclass(window, SubclassProc, kSubclassId, reinterpret_cast<DWORD_PTR>(this))) {
        UnbindObject(window);
        m_hWnd = nullptr;
        return FALSE;
    }
    m_bSubclassed = true;
    return TRUE;
}

BOOL CWnd::SubclassDlgItem(UINT id, CWnd* parent)
{
    if (!parent || !parent->m_hWnd) return FALSE;
    return SubclassWindow(::GetDlgItem(parent->m_hWnd, static_cast<int>(id)));
}

HWND CWnd::UnsubclassWindow()
{
    HWND window = m_hWnd;
    if (m_bSubclassed && window && ::IsWindow(window)) {
        ::RemoveWindowSubclass(window, SubclassProc, kSubclassId);
        UnbindObject(window);
    }
    m_bSubclassed = false;
    m_hWnd = nullptr;
    return window;
}

BOOL CWnd::CreateEx(DWORD exStyle, const wchar_t* className, const wchar_t* windowName, DWORD style,
                    const RECT& rect, HWND parent, UINT_PTR idOrMenu)
{
    if (m_hWnd) return FALSE;
    HWND window = ::CreateWindowExW(exStyle, className, windowName, style, rect.left, rect.top,
                                    rect.right - rect.left, rect.bottom - rect.top, parent,
                                    reinterpret_cast<HMENU>(idOrMenu), ::GetModuleHandleW(nullptr), nullptr);
    if (!window) return FALSE;
    m_hWnd = window;
    m_bOwnsWindow = true;
    return TRUE;
}

BOOL CWnd::DestroyWindow()
{
    if (!m_hWnd) return FALSE;
    HWND window = m_hWnd;
    bool subclassed = m_bSubclassed;
    BOOL ok = ::DestroyWindow(window);
    if (ok) {
        m_bOwnsWindow = false;
        if (!subclassed) m_hWnd = nullptr;  // a subclassed window clears itself at WM_NCDESTROY
    }
    return ok;
}

CWnd* CWnd::FromHandlePermanent(HWND window)
{
    if (!window) return nullptr;
    return static_cast<CWnd*>(::GetPropW(window, kObjectProperty));
}

bool CWnd::BindObject(HWND window, CWnd* object) { return ::SetPropW(window, kObjectProperty, object) != FALSE; }

void CWnd::UnbindObject(HWND window) { ::RemovePropW(window, kObjectProperty); }

void CWnd::SetWindowText(const std::wstring& text) { ::SetWindowTextW(m_hWnd, text.c_str()); }

std::wstring CWnd::GetWindowText() const
{
    int length = ::GetWindowTextLengthW(m_hWnd);
    if (length <= 0) return std::wstring();
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    int copied = ::GetWindowTextW(m_hWnd, &text[0], length + 1);
    text.resize(copied > 0 ? static_cast<size_t>(copied) : 0);
    return text;
}

BOOL CWnd::SetWindowPos(const CWnd* insertAfter, int x, int y, int cx, int cy, UINT flags)
{
    return ::SetWindowPos(m_hWnd, insertAfter ? insertAfter->m_hWnd : HWND_TOP, x, y, cx, cy, flags);
}

BOOL CWnd::MoveWindow(int x, int y, int width, int height, BOOL repaint)
{
    return ::MoveWindow(m_hWnd, x, y, width, height, repaint);
}

void CWnd::GetWindowRect(RECT* rect) const
{
    if (!::GetWindowRect(m_hWnd, rect)) *rect = RECT{};
}

void CWnd::GetClientRect(RECT* rect) const
{
    if (!::GetClientRect(m_hWnd, rect)) *rect = RECT{};
}

void CWnd::ScreenToClient(POINT* point) const { ::ScreenToClient(m_hWnd, point); }

void CWnd::ScreenToClient(RECT* rect) const
{
    ::MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(rect), 2);
}

void CWnd::ClientToScreen(POINT* point) const { ::ClientToScreen(m_hWnd, point); }

void CWnd::ClientToScreen(RECT* rect) const
{
    ::MapWindowPoints(m_hWnd, nullptr, reinterpret_cast<POINT*>(rect), 2);
}

void CWnd::CenterWindow(CWnd* alternate)
{
    RECT window{};
    GetWindowRect(&window);
    bool child = (GetStyle() & WS_CHILD) != 0;
    HWND reference = alternate ? alternate->m_hWnd
                               : (child ? ::GetParent(m_hWnd) : ::GetWindow(m_hWnd, GW_OWNER));
    RECT area{};
    if (child && reference) {
        ::GetClientRect(reference, &area);
        ::MapWindowPoints(nullptr, reference, reinterpret_cast<POINT*>(&window), 2);
    } else if (reference && ::IsWindowVisible(reference) && !::IsIconic(reference)) {
        ::GetWindowRect(reference, &area);
    } else {
        ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
    }
    int width = window.right - window.left;
    int height = window.bottom - window.top;
    int x = (area.left + area.right) / 2 - width / 2;
    int y = (area.top + area.bottom) / 2 - height / 2;
    ::SetWindowPos(m_hWnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

BOOL CWnd::ModifyStyle(DWORD remove, DWORD add, UINT swpFlags)
{
    DWORD style = GetStyle();
    DWORD updated = (style & ~remove) | add;
    if (style == updated) return FALSE;
    ::SetWindowLongPtrW(m_hWnd, GWL_STYLE, static_cast<LONG_PTR>(updated));
    if (swpFlags)
        ::SetWindowPos(m_hWnd, nullptr, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | swpFlags);
    return TRUE;
}

void CWnd::SetFont(HFONT font, BOOL redraw)
{
    ::SendMessageW(m_hWnd, WM_SETFONT, reinterpret_cast<WPARAM>(font), MAKELPARAM(redraw, 0));
}

HFONT CWnd::GetFont() const
{
    return reinterpret_cast<HFONT>(::SendMessageW(m_hWnd, WM_GETFONT, 0, 0));
}

BOOL CWnd::RedrawWindow(const RECT* rect, HRGN region, UINT flags)
{
    return ::RedrawWindow(m_hWnd, rect, region, flags);
}

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) const
{
    return ::SendMessageW(m_hWnd, message, wParam, lParam);
}

BOOL CWnd::PostMessage(UINT message, WPARAM wParam, LPARAM lParam) const
{
    return ::PostMessageW(m_hWnd, message, wParam, lParam);
}

CWnd* CWnd::GetDlgItem(int id) { return WrapHandle(::GetDlgItem(m_hWnd, id)); }

CWnd* CWnd::GetParent() { return WrapHandle(::GetParent(m_hWnd)); }

CWnd* CWnd::WrapHandle(HWND window)
{
    if (!window) return nullptr;
    if (CWnd* bound = FromHandlePermanent(window)) return bound;
    for (auto& wrapper : m_wrappers)
        if (wrapper->m_hWnd == window) return wrapper.get();
    auto wrapper = std::make_unique<CWnd>();
    wrapper->m_hWnd = window;
    m_wrappers.push_back(std::move(wrapper));
    return m_wrappers.back().get();
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message >= WM_CTLCOLORMSGBOX && message <= WM_CTLCOLORSTATIC) {
        CDC dc(reinterpret_cast<HDC>(wParam));
        return reinterpret_cast<LRESULT>(
            OnCtlColor(&dc, WrapHandle(reinterpret_cast<HWND>(lParam)), message - WM_CTLCOLORMSGBOX));
    }
    if (m_pFrame) m_pFrame->unhandled = true;
    return 0;
}

LRESULT CWnd::Default()
{
    MessageFrame* frame = m_pFrame;
    if (!frame) return 0;
    if (!frame->defaultDone) {
        frame->defaultDone = true;
        frame->defaultResult =
            IsReflectedMessage(frame->message) ? 0 : CallDefault(frame->message, frame->wParam, frame->lParam);
    }
    return frame->defaultResult;
}

LRESULT CWnd::CallDefault(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (m_bSubclassed && m_hWnd) return ::DefSubclassProc(m_hWnd, message, wParam, lParam);
    return 0;
}

HBRUSH CWnd::OnCtlColor(CDC* dc, CWnd* control, UINT ctlColor)
{
    HWND child = control ? control->m_hWnd : nullptr;
    if (IsDirectChildOnThisThread(child, m_hWnd)) {
        CWnd* owner = FromHandlePermanent(child);
        if (owner && owner != this) {
            bool handled = false;
            LRESULT brush = owner->RouteMessage(WM_REFLECT_BASE + WM_CTLCOLORMSGBOX + ctlColor,
                                                reinterpret_cast<WPARAM>(dc->m_hDC),
                                                reinterpret_cast<LPARAM>(child), &handled);
            if (handled && brush) return reinterpret_cast<HBRUSH>(brush);
        }
    }
    return reinterpret_cast<HBRUSH>(Default());
}

bool CWnd::ReflectToChild(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result)
{
    HWND child = nullptr;
    if (message == WM_COMMAND)
        child = reinterpret_cast<HWND>(lParam);
    else if (message == WM_NOTIFY && lParam)
        child = reinterpret_cast<const NMHDR*>(lParam)->hwndFrom;
    if (!IsDirectChildOnThisThread(child, m_hWnd)) return false;
    CWnd* owner = FromHandlePermanent(child);
    if (!owner || owner == this) return false;
    bool handled = false;
    LRESULT reflected = owner->RouteMessage(WM_REFLECT_BASE + message, wParam, lParam, &handled);
    if (!handled) return false;
    *result = reflected;
    return true;
}

LRESULT CWnd::RouteMessage(UINT message, WPARAM wParam, LPARAM lParam, bool* handled) noexcept
{
    MessageFrame frame{message, wParam, lParam};
    frame.outer = m_pFrame;
    m_pFrame = &frame;
    LRESULT result = 0;
    try {
        if (IsReflectedMessage(message) || !ReflectToChild(message, wParam, lParam, &result))
            result = WindowProc(message, wParam, lParam);
    } catch (...) {
        // The handler failed part-way; what it did stays done and the message ends here with
        // the platform's processing (unless that already ran).
        result = 0;
        frame.unhandled = true;
    }
    m_pFrame = frame.outer;
    if (frame.unhandled && frame.defaultDone) {
        *handled = true;
        return frame.defaultResult;
    }
    *handled = !frame.unhandled;
    return result;
}

LRESULT CALLBACK CWnd::SubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                    UINT_PTR, DWORD_PTR refData)
{
    CWnd* self = reinterpret_cast<CWnd*>(refData);
    if (message == WM_NCDESTROY) {
        ::RemoveWindowSubclass(window, SubclassProc, kSubclassId);
        UnbindObject(window);
        self->m_bSubclassed = false;
        self->m_bOwnsWindow = false;
        self->m_hWnd = nullptr;
        LRESULT result = ::DefSubclassProc(window, message, wParam, lParam);
        try {
            self->PostNcDestroy();
        } catch (...) {
        }
        return result;
    }
    bool handled = false;
    LRESULT result = self->RouteMessage(message, wParam, lParam, &handled);
    if (!handled) return ::DefSubclassProc(window, message, wParam, lParam);
    return result;
}
