#include "framework/controls.h"

#include <vector>

HBITMAP CStatic::SetBitmap(HBITMAP bitmap)
{
    return reinterpret_cast<HBITMAP>(SendMessage(STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(bitmap)));
}

HBITMAP CStatic::GetBitmap() const
{
    return reinterpret_cast<HBITMAP>(SendMessage(STM_GETIMAGE, IMAGE_BITMAP, 0));
}

void CProgressCtrl::SetRange(int lower, int upper)
{
    SendMessage(PBM_SETRANGE32, static_cast<WPARAM>(lower), static_cast<LPARAM>(upper));
}

int CProgressCtrl::SetPos(int position)
{
    return static_cast<int>(SendMessage(PBM_SETPOS, static_cast<WPARAM>(position), 0));
}

int CProgressCtrl::GetPos() const { return static_cast<int>(SendMessage(PBM_GETPOS, 0, 0)); }

namespace {
TTTOOLINFOW ToolInfo(HWND tool, UINT_PTR id, UINT flags)
{
    TTTOOLINFOW info{};
    // The version-2 size is understood by every common-controls version we may meet.
    info.cbSize = TTTOOLINFOW_V2_SIZE;
    info.uFlags = flags;
    info.hwnd = tool;
    info.uId = id;
    return info;
}
}  // namespace

BOOL CToolTipCtrl::Create(CWnd* parent, DWORD style)
{
    RECT none{};
    if (!CreateEx(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | style, none,
                  parent ? parent->m_hWnd : nullptr, 0)) {
        return FALSE;
    }
    ::SetWindowPos(m_hWnd, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    return TRUE;
}

BOOL CToolTipCtrl::AddTool(CWnd* tool, const std::wstring& text, const RECT* rect, UINT_PTR id)
{
    if (!m_hWnd || !tool) return FALSE;
    TTTOOLINFOW info = ToolInfo(tool->m_hWnd, id, TTF_SUBCLASS);
    std::vector<wchar_t> buffer(text.begin(), text.end());
    buffer.push_back(L'\0');
    info.lpszText = buffer.data();
    if (rect) info.rect = *rect;
    else ::GetClientRect(tool->m_hWnd, &info.rect);
    return static_cast<BOOL>(SendMessage(TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&info)));
}

void CToolTipCtrl::UpdateTipText(const std::wstring& text, CWnd* tool, UINT_PTR id)
{
    if (!m_hWnd || !tool) return;
    TTTOOLINFOW info = ToolInfo(tool->m_hWnd, id, 0);
    std::vector<wchar_t> buffer(text.begin(), text.end());
    buffer.push_back(L'\0');
    info.lpszText = buffer.data();
    SendMessage(TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&info));
}

void CToolTipCtrl::SetToolRect(CWnd* tool, UINT_PTR id, const RECT& rect)
{
    if (!m_hWnd || !tool) return;
    TTTOOLINFOW info = ToolInfo(tool->m_hWnd, id, 0);
    info.rect = rect;
    SendMessage(TTM_NEWTOOLRECTW, 0, reinterpret_cast<LPARAM>(&info));
}

std::wstring CToolTipCtrl::GetText(CWnd* tool, UINT_PTR id) const
{
    if (!m_hWnd || !tool) return std::wstring();
    // TTM_GETTEXTW has no length argument; tips are short, and 1024 is far above any of ours.
    std::vector<wchar_t> buffer(1024, L'\0');
    TTTOOLINFOW info = ToolInfo(tool->m_hWnd, id, 0);
    info.lpszText = buffer.data();
    SendMessage(TTM_GETTEXTW, buffer.size(), reinterpret_cast<LPARAM>(&info));
    buffer.back() = L'\0';
    return std::wstring(buffer.data());
}

int CToolTipCtrl::GetToolCount() const { return m_hWnd ? static_cast<int>(SendMessage(TTM_GETTOOLCOUNT)) : 0; }

void CToolTipCtrl::RelayEvent(MSG* message)
{
    if (m_hWnd) SendMessage(TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(message));
}

void CToolTipCtrl::Activate(BOOL activate)
{
    if (m_hWnd) SendMessage(TTM_ACTIVATE, static_cast<WPARAM>(activate), 0);
}
