#pragma once
#include <windows.h>
#include <memory>
#include <string>
#include <vector>

class CDC;

// A parent hands WM_COMMAND, WM_NOTIFY and WM_CTLCOLOR* coming from a direct child to the child's
// own object first, as WM_REFLECT_BASE + message with the original arguments.
constexpr UINT WM_REFLECT_BASE = 0xBC00;

// A window object. It reaches its window in one of three ways:
//  - Attach: a plain wrapper; it never subclasses and never destroys the window (use it for the
//    desktop, the foreground window or any other window we do not own);
//  - SubclassWindow / SubclassDlgItem: the window's messages run through WindowProc; the subclass
//    is removed at WM_NCDESTROY, or by the destructor while the window is still alive;
//  - CDialog binds itself at WM_INITDIALOG (its window procedure is the dialog manager's).
// Both bindings are the same record on the window, so FromHandlePermanent finds either kind.
// A window this object created with CreateEx is destroyed with it.
//
// Message handling: each class overrides WindowProc once, a switch that unpacks the arguments,
// calls its handlers and passes everything else to its base class's WindowProc. A handler that
// wants the platform's processing first calls Default(); it then must not also pass the message
// on to the base. Exceptions never leave the window procedure: they are caught at the boundary
// and the message gets the platform's default processing.
class CWnd {
public:
    CWnd();
    virtual ~CWnd();
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    HWND m_hWnd = nullptr;

    // Special insert-after windows for SetWindowPos.
    static const CWnd wndTop;
    static const CWnd wndBottom;
    static const CWnd wndTopMost;
    static const CWnd wndNoTopMost;

    BOOL Attach(HWND window);
    HWND Detach();
    HWND GetSafeHwnd() const { return m_hWnd; }
    operator HWND() const { return m_hWnd; }

    BOOL SubclassWindow(HWND window);
    BOOL SubclassDlgItem(UINT id, CWnd* parent);
    HWND UnsubclassWindow();

    // Creates a window owned by this object (destroyed with it). Not subclassed.
    BOOL CreateEx(DWORD exStyle, const wchar_t* className, const wchar_t* windowName, DWORD style,
                  const RECT& rect, HWND parent, UINT_PTR idOrMenu);
    BOOL DestroyWindow();

    // The object bound to a window (subclassed control or CDialog), or null.
    static CWnd* FromHandlePermanent(HWND window);

    BOOL IsWindow() const { return m_hWnd && ::IsWindow(m_hWnd); }
    void SetWindowText(const std::wstring& text);
    std::wstring GetWindowText() const;
    BOOL ShowWindow(int command) { return ::ShowWindow(m_hWnd, command); }
    BOOL IsWindowVisible() const { return ::IsWindowVisible(m_hWnd); }
    BOOL EnableWindow(BOOL enable = TRUE) { return ::EnableWindow(m_hWnd, enable); }
    BOOL IsWindowEnabled() const { return ::IsWindowEnabled(m_hWnd); }
    BOOL SetWindowPos(const CWnd* insertAfter, int x, int y, int cx, int cy, UINT flags);
    BOOL MoveWindow(int x, int y, int width, int height, BOOL repaint = TRUE);
    void GetWindowRect(RECT* rect) const;
    void GetClientRect(RECT* rect) const;
    void ScreenToClient(POINT* point) const;
    void ScreenToClient(RECT* rect) const;
    void ClientToScreen(POINT* point) const;
    void ClientToScreen(RECT* rect) const;
    // Centres on `alternate` or, without one, on the owner, or else on the screen.
    void CenterWindow(CWnd* alternate = nullptr);
    int GetDlgCtrlID() const { return ::GetDlgCtrlID(m_hWnd); }
    DWORD GetStyle() const { return static_cast<DWORD>(::GetWindowLongPtrW(m_hWnd, GWL_STYLE)); }
    DWORD GetExStyle() const { return static_cast<DWORD>(::GetWindowLongPtrW(m_hWnd, GWL_EXSTYLE)); }
    BOOL ModifyStyle(DWORD remove, DWORD add, UINT swpFlags = 0);
    void SetFont(HFONT font, BOOL redraw = TRUE);
    HFONT GetFont() const;
    void Invalidate(BOOL erase = TRUE) { ::InvalidateRect(m_hWnd, nullptr, erase); }
    BOOL RedrawWindow(const RECT* rect = nullptr, HRGN region = nullptr,
                      UINT flags = RDW_INVALIDATE | RDW_UPDATENOW | RDW_ERASE);
    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;
    BOOL PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;

    // Child control or parent (for a pop-up: the owner). Returns the bound object when there is
    // one, else a plain wrapper kept by this object; null when there is no such window.
    CWnd* GetDlgItem(int id);
    CWnd* GetParent();
    // The bound object for `window`, else a plain wrapper kept by this object (null for null).
    CWnd* WrapHandle(HWND window);

    // The parent has laid itself out for another DPI (its controls moved, its fonts replaced); a
    // control with fonts or sizes of its own makes them for `newDpi` here.
    virtual void OnParentDpiChanged(UINT /*oldDpi*/, UINT /*newDpi*/) {}

protected:
    // The message switch. The base handles WM_CTLCOLOR* (OnCtlColor) and leaves everything else
    // to the platform.
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);

    // The platform's processing of the message being handled, run now.
    LRESULT Default();

    // Called once the window is attached to this object, before messages are routed here.
    virtual void PreSubclassWindow() {}
    // Called after the last message (WM_NCDESTROY), once m_hWnd has been cleared.
    virtual void PostNcDestroy() {}

    // WM_CTLCOLOR*: the child's own object gets the message first (reflected); a non-null brush
    // from it is the answer, otherwise the platform's default colouring.
    HBRUSH OnCtlColor(CDC* dc, CWnd* control, UINT ctlColor);

    // The message this object is handling (innermost on this thread's stack of calls).
    struct MessageFrame {
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
        bool unhandled = false;      // reached the end of the switch chain
        bool defaultDone = false;    // Default() already ran
        LRESULT defaultResult = 0;
        MessageFrame* outer = nullptr;
    };
    const MessageFrame* CurrentMessage() const { return m_pFrame; }

    // Runs WindowProc for one message inside a frame; reflection of child notifications and
    // the exception boundary live here. `handled` is false when no class handled the message.
    LRESULT RouteMessage(UINT message, WPARAM wParam, LPARAM lParam, bool* handled) noexcept;

    // How Default() reaches the platform for this kind of window.
    virtual LRESULT CallDefault(UINT message, WPARAM wParam, LPARAM lParam);

    bool m_bSubclassed = false;
    bool m_bOwnsWindow = false;

private:
    explicit CWnd(HWND special);
    // The one record that ties a window to its object.
    static bool BindObject(HWND window, CWnd* object);
    static void UnbindObject(HWND window);
    bool ReflectToChild(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);
    static LRESULT CALLBACK SubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                         UINT_PTR id, DWORD_PTR refData);

    MessageFrame* m_pFrame = nullptr;
    std::vector<std::unique_ptr<CWnd>> m_wrappers;

    friend class CDialog;
};

// The client point of a mouse message (signed: points left of or above the window are negative).
inline POINT PointFromLParam(LPARAM lParam)
{
    return POINT{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
}

inline bool IsReflectedMessage(UINT message)
{
    return message >= WM_REFLECT_BASE && message < WM_REFLECT_BASE + 0x400;
}
