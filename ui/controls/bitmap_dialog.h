#pragma once
#include <windows.h>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "framework/dialog.h"
#include "framework/gdi.h"
#include "ui/controls/portable/skin_path.h"

class CBmpButton;

// Base of the installer's borderless dialogs: a bitmap face painted on every erase, statics drawn
// transparently over it, dragging by the background, and the skin set-up helpers that each
// dialog calls from its OnInitDialog with its own values.
class CBitmapDialog : public CDialog {
public:
    CBitmapDialog(UINT templateId, CWnd* parent);
    ~CBitmapDialog() override;

    // FALSE when the file cannot be loaded (the dialog is then left without a background).
    BOOL SetBackgroundFromFile(const std::wstring& path);
    // Copies `source` into a bitmap of the dialog's own. FALSE when the copy cannot be made.
    BOOL SetBackgroundBitmap(CBitmap* source);
    // The window region becomes the full window rectangle.
    void ResetWindowRegion();

    BOOL m_bTransparentStatics;
    HBRUSH m_hNullBrush;  // stock object, not owned
    BOOL m_bDragMove;
    BOOL m_bOwnsBackground;
    BOOL m_bHasBackground;
    std::unique_ptr<CBitmap> m_pBackground;

    // --- Skin set-up, in the order the dialogs call it ---
    // S1: the current directory followed by `imageName` (one of the kSkin* names); empty when
    // the path does not fit its 260-character buffer (the image then counts as missing).
    static std::wstring SkinImagePath(const std::wstring& imageName);
    // S1 + S2: background from the images folder; the result may be ignored.
    BOOL SetSkinBackground(const std::wstring& imageName);
    // S3: transparent statics and dragging by the background.
    void EnableSkinBehaviour();
    // S4: a font from a zero LOGFONTW with only height, weight (700 bold, 0 normal) and face set.
    // The dialog owns it; it lives as long as the dialog object. Null when creation fails.
    CFont* CreateSkinFont(int height, int weight, const wchar_t* faceName);
    // S4: text and font of control `id` (WM_SETFONT with redraw). A null font leaves the font.
    void SetSkinText(int id, const std::wstring& text, CFont* font);
    // S5: the four close-control images: normal, mouse-over, pressed, disabled.
    static void LoadCloseControlImages(CBmpButton& closeControl);
    // S6: the rounded window shape (corner ellipse 21 x 21); the region belongs to the window.
    void ApplyRoundedRegion();
    // S7: centres the dialog on `reference` (keeping its size, on top). Not moved when null.
    void CenterOnWindow(HWND reference);
    void CenterOnWindow(CWnd* reference) { CenterOnWindow(reference ? reference->m_hWnd : nullptr); }

    // A solid brush of `colour` kept by this dialog for its lifetime, for WM_CTLCOLOR answers:
    // one brush per colour, however often it is asked for.
    HBRUSH SolidBrush(COLORREF colour);

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    BOOL OnEraseBkgnd(CDC* dc);
    void OnLButtonDown(UINT flags, POINT point);
    // Derived dialogs that colour their controls call this first and adjust its result.
    HBRUSH OnCtlColor(CDC* dc, CWnd* control, UINT ctlColor);

private:
    void ReleaseBackground();

    std::vector<std::unique_ptr<CFont>> m_fonts;
    std::vector<std::pair<COLORREF, CBrush>> m_brushes;
};
