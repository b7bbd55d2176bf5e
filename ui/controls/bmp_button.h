#pragma once
#include <windows.h>
#include <atomic>
#include <string>

#include "framework/controls.h"
#include "framework/sync.h"

// The skinned close control: a SS_NOTIFY | SS_BITMAP static that shows one of four images
// (normal, mouse-over, pressed, disabled) as the mouse moves and presses. Clicks reach the parent
// as the static's ordinary STN_CLICKED. The owning dialog restores the resting image when the
// mouse moves over its background (ChangeBitMap with the disabled or normal image).
// Where the template makes it a tab stop it works as a button for the keyboard too: it shows a
// focus rectangle while it has the focus (unless the window hides focus cues), and Space clicks it.
// Screen readers meet it as a push button named m_strAccessibleName (it has no text of its own),
// unavailable while m_bDisabled; its default action is the click.
class CBmpButton : public CStatic {
public:
    CBmpButton();
    ~CBmpButton() override;  // releases the four images

    // Loads the four image files and shows the normal one (the disabled one while m_bDisabled).
    // An empty mouse-over, pressed or disabled path loads the normal file again. A file that
    // cannot be loaded gives no image; the control still sends its clicks.
    void LoadBitmaps(std::wstring normal, std::wstring mouseOver, std::wstring pressed, std::wstring disabled);
    // The same with images already loaded (null: no image); the control owns them from now on.
    void SetBitmaps(HBITMAP normal, HBITMAP mouseOver, HBITMAP pressed, HBITMAP disabled);
    // Shows `image` (under m_imageLock, with its three log lines).
    void ChangeBitMap(HBITMAP image);

    // Written by the owning dialog, possibly from another thread; the mouse is ignored while set.
    std::atomic<BOOL> m_bDisabled;
    HBITMAP m_hNormalImage = nullptr;
    HBITMAP m_hMouseOverImage = nullptr;
    HBITMAP m_hPressedImage = nullptr;
    HBITMAP m_hDisabledImage = nullptr;
    CCriticalSection m_imageLock;
    // The control's name for screen readers; its window text is not used (a static with
    // SS_BITMAP reads any text given to it as the name of an image resource). Own thread only.
    std::wstring m_strAccessibleName;

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    void OnLButtonDown();
    void OnMouseMove();
    // The click a person gives it: STN_CLICKED to the parent, which decides.
    void Click();
    // The static's own painting (WM_PAINT, or WM_PRINTCLIENT into `dc`), then the focus cue.
    LRESULT OnPaint(UINT message, HDC dc, LPARAM lParam);

private:
    bool IsOwnImage(HBITMAP image) const;
    void ReleaseImages(HBITMAP normal, HBITMAP mouseOver, HBITMAP pressed, HBITMAP disabled);
    HBITMAP m_retiring[4] = {};  // the previous images while SetBitmaps replaces them
    bool m_bSpaceDown = false;   // a Space press began on this control
};
