#pragma once
#include <windows.h>
#include <string>

#include "framework/controls.h"
#include "framework/gdi.h"

// Turns a template static into a link: link colours (another while hovered), a hand cursor, the
// target as tooltip, sized to its text, and a click opens the target in the platform's browser.
// Its set-up runs when DDX_Control binds it. Screen readers meet it as a link named by its text,
// whose value is the target and whose default action opens it.
class CHyperLink : public CStatic {
public:
    CHyperLink();
    ~CHyperLink() override;  // releases the font, the tooltip and the copied cursor

    // The address opened on a click and shown as tooltip; refits the control when it exists.
    void SetLinkTarget(const std::wstring& target);
    // Link font without underline (the size is not refitted).
    void ClearUnderline();
    // Resizes the control to its text when m_bFitToText (keeping the alignment's anchor).
    void FitWindowToText();
    void LoadHandCursor();
    // Starts the browser with `target`. False, and nothing started, when the Program Files
    // folder cannot be found or the start fails.
    bool OpenLinkTarget(const std::wstring& target);

    COLORREF m_crLink;
    COLORREF m_crHover;
    BOOL m_bHover = FALSE;
    BOOL m_bUnderline = TRUE;
    BOOL m_bFitToText = TRUE;
    std::wstring m_strTarget;
    CFont m_font;
    HCURSOR m_hHandCursor = nullptr;
    CToolTipCtrl m_toolTip;

    // The link font made again for the new DPI (when the link shows it), and the size refitted.
    void OnParentDpiChanged(UINT oldDpi, UINT newDpi) override;

protected:
    void PreSubclassWindow() override;
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    void OnClicked();
    HBRUSH CtlColor(CDC* dc);
    BOOL OnSetCursor();
    void OnMouseMove(POINT point);

private:
    void SetLinkFont(LOGFONTW logFont);
    LOGFONTW m_originalFont{};  // m_font as it was made (set-up, ClearUnderline)
    UINT m_nOriginalFontDpi = 0;  // for this DPI
};
