#pragma once
#include <windows.h>
#include <commctrl.h>
#include <string>

#include "framework/wnd.h"

// A static control (template control bound with DDX_Control, or created with CreateEx).
class CStatic : public CWnd {
public:
    // STM_SETIMAGE / STM_GETIMAGE with IMAGE_BITMAP. The control does not take ownership.
    HBITMAP SetBitmap(HBITMAP bitmap);
    HBITMAP GetBitmap() const;
};

// The common progress bar.
class CProgressCtrl : public CWnd {
public:
    void SetRange(int lower, int upper);
    int SetPos(int position);
    int GetPos() const;
};

// A tooltip window owned by this object (destroyed with it). Tools are added with TTF_SUBCLASS,
// so the tooltip watches the tool's mouse messages itself: dialogs run by the platform's modal
// loop have no message pre-translation to relay them.
class CToolTipCtrl : public CWnd {
public:
    BOOL Create(CWnd* parent, DWORD style = 0);
    BOOL AddTool(CWnd* tool, const std::wstring& text, const RECT* rect, UINT_PTR id);
    void UpdateTipText(const std::wstring& text, CWnd* tool, UINT_PTR id);
    // The part of the tool (its client coordinates) that shows the tip.
    void SetToolRect(CWnd* tool, UINT_PTR id, const RECT& rect);
    std::wstring GetText(CWnd* tool, UINT_PTR id) const;
    int GetToolCount() const;
    void RelayEvent(MSG* message);
    void Activate(BOOL activate);
};
