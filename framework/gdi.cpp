#include "framework/gdi.h"

#include "framework/wnd.h"

BOOL CBitmap::CreateCompatibleBitmap(HDC dc, int width, int height)
{
    return Attach(::CreateCompatibleBitmap(dc, width, height));
}

BOOL CBitmap::LoadFromFile(const std::wstring& path, UINT extraFlags)
{
    return Attach(static_cast<HBITMAP>(
        LoadImageW(nullptr, path.c_str(), IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE | extraFlags)));
}

int CBitmap::GetBitmap(BITMAP* info) const
{
    return m_handle ? GetObjectW(m_handle, sizeof(BITMAP), info) : 0;
}

BOOL CFont::CreateFontIndirect(const LOGFONTW* font) { return Attach(::CreateFontIndirectW(font)); }

int CFont::GetLogFont(LOGFONTW* font) const
{
    return m_handle ? GetObjectW(m_handle, sizeof(LOGFONTW), font) : 0;
}

BOOL CRgn::CreateRectRgn(int left, int top, int right, int bottom)
{
    return Attach(::CreateRectRgn(left, top, right, bottom));
}

BOOL CRgn::CreateRectRgnIndirect(const RECT& rect)
{
    return Attach(::CreateRectRgnIndirect(&rect));
}

BOOL CRgn::CreateRoundRectRgn(int left, int top, int right, int bottom, int ellipseWidth, int ellipseHeight)
{
    return Attach(::CreateRoundRectRgn(left, top, right, bottom, ellipseWidth, ellipseHeight));
}

BOOL CBrush::CreateSolidBrush(COLORREF colour) { return Attach(::CreateSolidBrush(colour)); }

BOOL CDC::IsPrinting() const
{
    return m_hDC && GetDeviceCaps(m_hDC, TECHNOLOGY) == DT_RASPRINTER;
}

void CDC::FillSolidRect(const RECT& rect, COLORREF colour)
{
    ::SetBkColor(m_hDC, colour);
    ::ExtTextOutW(m_hDC, 0, 0, ETO_OPAQUE, &rect, nullptr, 0, nullptr);
}

int CDC::DrawText(const std::wstring& text, RECT* rect, UINT format)
{
    return ::DrawTextW(m_hDC, text.c_str(), static_cast<int>(text.size()), rect, format);
}

POINT CDC::SetWindowOrg(int x, int y)
{
    POINT previous{};
    ::SetWindowOrgEx(m_hDC, x, y, &previous);
    return previous;
}

SIZE CDC::GetTextExtent(const std::wstring& text) const
{
    SIZE size{};
    ::GetTextExtentPoint32W(m_hDC, text.c_str(), static_cast<int>(text.size()), &size);
    return size;
}

BOOL CCompatibleDC::CreateCompatibleDC(HDC reference)
{
    DeleteDC();
    m_hDC = ::CreateCompatibleDC(reference);
    return m_hDC != nullptr;
}

void CCompatibleDC::DeleteDC()
{
    if (m_hDC) ::DeleteDC(m_hDC);
    m_hDC = nullptr;
}

CPaintDC::CPaintDC(HWND window) : m_hWnd(window) { m_hDC = ::BeginPaint(window, &m_ps); }

CPaintDC::CPaintDC(CWnd* window) : CPaintDC(window->m_hWnd) {}

CPaintDC::~CPaintDC()
{
    if (m_hDC) ::EndPaint(m_hWnd, &m_ps);
}

CClientDC::CClientDC(HWND window) : m_hWnd(window) { m_hDC = ::GetDC(window); }

CClientDC::~CClientDC()
{
    if (m_hDC) ::ReleaseDC(m_hWnd, m_hDC);
}
