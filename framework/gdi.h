#pragma once
#include <windows.h>
#include <string>

class CWnd;

// GDI ownership in this layer, stated by the type:
//  - CBitmap, CFont, CRgn, CBrush always own their handle (DeleteObject when they die); they are
//    move-only. Detach() hands the handle to someone else (for example SetWindowRgn).
//  - A raw HBITMAP/HFONT/HRGN/HBRUSH/HGDIOBJ is borrowed: stock objects, handles a control keeps.
//  - CDC is a borrowed device context (never released by it); CCompatibleDC, CPaintDC and
//    CClientDC own theirs, each released the way it was obtained.
//  - CSelectObject selects an object into a DC for its scope and puts the previous one back.

template <class THandle>
class CGdiObject {
public:
    CGdiObject() = default;
    explicit CGdiObject(THandle handle) : m_handle(handle) {}  // takes ownership
    ~CGdiObject() { DeleteObject(); }
    CGdiObject(CGdiObject&& other) noexcept : m_handle(other.Detach()) {}
    CGdiObject& operator=(CGdiObject&& other) noexcept
    {
        if (this != &other) {
            DeleteObject();
            m_handle = other.Detach();
        }
        return *this;
    }
    CGdiObject(const CGdiObject&) = delete;
    CGdiObject& operator=(const CGdiObject&) = delete;

    THandle GetSafeHandle() const { return m_handle; }
    operator THandle() const { return m_handle; }

    // Takes ownership of `handle`, deleting what was owned before.
    BOOL Attach(THandle handle)
    {
        DeleteObject();
        m_handle = handle;
        return handle != nullptr;
    }
    // Gives up ownership without deleting.
    THandle Detach()
    {
        THandle handle = m_handle;
        m_handle = nullptr;
        return handle;
    }
    BOOL DeleteObject()
    {
        if (!m_handle) return FALSE;
        ::DeleteObject(m_handle);
        m_handle = nullptr;
        return TRUE;
    }

protected:
    THandle m_handle = nullptr;
};

class CBitmap : public CGdiObject<HBITMAP> {
public:
    using CGdiObject::CGdiObject;
    BOOL CreateCompatibleBitmap(HDC dc, int width, int height);
    // Loads a bitmap file (LoadImageW with LR_LOADFROMFILE | extraFlags).
    BOOL LoadFromFile(const std::wstring& path, UINT extraFlags = 0);
    int GetBitmap(BITMAP* info) const;
};

class CFont : public CGdiObject<HFONT> {
public:
    using CGdiObject::CGdiObject;
    BOOL CreateFontIndirect(const LOGFONTW* font);
    int GetLogFont(LOGFONTW* font) const;
};

class CRgn : public CGdiObject<HRGN> {
public:
    using CGdiObject::CGdiObject;
    BOOL CreateRectRgn(int left, int top, int right, int bottom);
    BOOL CreateRectRgnIndirect(const RECT& rect);
    BOOL CreateRoundRectRgn(int left, int top, int right, int bottom, int ellipseWidth, int ellipseHeight);
};

class CBrush : public CGdiObject<HBRUSH> {
public:
    using CGdiObject::CGdiObject;
    BOOL CreateSolidBrush(COLORREF colour);
};

// Drawing operations on a device context this object does not own.
class CDC {
public:
    CDC() = default;
    explicit CDC(HDC dc) : m_hDC(dc) {}
    virtual ~CDC() = default;
    CDC(const CDC&) = delete;
    CDC& operator=(const CDC&) = delete;

    HDC m_hDC = nullptr;
    HDC GetSafeHdc() const { return m_hDC; }
    operator HDC() const { return m_hDC; }

    // Printer DCs are drawn directly, never buffered.
    BOOL IsPrinting() const;

    HGDIOBJ SelectObject(HGDIOBJ object) { return ::SelectObject(m_hDC, object); }
    int SetBkMode(int mode) { return ::SetBkMode(m_hDC, mode); }
    COLORREF SetBkColor(COLORREF colour) { return ::SetBkColor(m_hDC, colour); }
    COLORREF SetTextColor(COLORREF colour) { return ::SetTextColor(m_hDC, colour); }
    // Fills with a colour without a brush (the background colour is left at `colour`).
    void FillSolidRect(const RECT& rect, COLORREF colour);
    BOOL BitBlt(int x, int y, int width, int height, HDC source, int sourceX, int sourceY, DWORD rop)
    {
        return ::BitBlt(m_hDC, x, y, width, height, source, sourceX, sourceY, rop);
    }
    int DrawText(const std::wstring& text, RECT* rect, UINT format);
    int GetClipBox(RECT* rect) const { return ::GetClipBox(m_hDC, rect); }
    POINT SetWindowOrg(int x, int y);
    int SelectClipRgn(HRGN region) { return ::SelectClipRgn(m_hDC, region); }
    SIZE GetTextExtent(const std::wstring& text) const;
};

// A memory DC created here (CreateCompatibleDC) and deleted with the object. Move-only.
class CCompatibleDC : public CDC {
public:
    CCompatibleDC() = default;
    explicit CCompatibleDC(HDC reference) { CreateCompatibleDC(reference); }
    ~CCompatibleDC() override { DeleteDC(); }
    CCompatibleDC(CCompatibleDC&& other) noexcept { m_hDC = other.m_hDC; other.m_hDC = nullptr; }
    CCompatibleDC& operator=(CCompatibleDC&& other) noexcept
    {
        if (this != &other) {
            DeleteDC();
            m_hDC = other.m_hDC;
            other.m_hDC = nullptr;
        }
        return *this;
    }
    BOOL CreateCompatibleDC(HDC reference);  // reference null: the screen
    void DeleteDC();
};

// BeginPaint for its scope, EndPaint when it ends.
class CPaintDC : public CDC {
public:
    explicit CPaintDC(HWND window);
    explicit CPaintDC(CWnd* window);
    ~CPaintDC() override;
    PAINTSTRUCT m_ps{};

private:
    HWND m_hWnd;
};

// GetDC for its scope, ReleaseDC when it ends.
class CClientDC : public CDC {
public:
    explicit CClientDC(HWND window);
    ~CClientDC() override;

private:
    HWND m_hWnd;
};

// Selects an object into a DC for the scope and restores the previous selection afterwards.
class CSelectObject {
public:
    CSelectObject(HDC dc, HGDIOBJ object) : m_dc(dc), m_previous(object ? ::SelectObject(dc, object) : nullptr) {}
    ~CSelectObject()
    {
        if (m_previous) ::SelectObject(m_dc, m_previous);
    }
    CSelectObject(const CSelectObject&) = delete;
    CSelectObject& operator=(const CSelectObject&) = delete;
    HGDIOBJ Previous() const { return m_previous; }

private:
    HDC m_dc;
    HGDIOBJ m_previous;
};
