#include "ui/controls/bmp_button.h"

#include <oleacc.h>

#include "framework/app.h"
#include "support/installer_log.h"
#include "ui/controls/accessible.h"

namespace {
HBITMAP LoadImageFile(const std::wstring& path)
{
    if (path.empty()) return nullptr;
    return static_cast<HBITMAP>(LoadImageW(AfxGetInstanceHandle(), path.c_str(), IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE));
}
}  // namespace

CBmpButton::CBmpButton() : m_bDisabled(FALSE) {}

CBmpButton::~CBmpButton()
{
    if (m_hWnd && ::IsWindow(m_hWnd)) SetBitmap(nullptr);  // the control must not show a freed image
    ReleaseImages(m_hNormalImage, m_hMouseOverImage, m_hPressedImage, m_hDisabledImage);
}

void CBmpButton::ReleaseImages(HBITMAP normal, HBITMAP mouseOver, HBITMAP pressed, HBITMAP disabled)
{
    // The dialogs may point two fields at one image; each handle is freed once.
    HBITMAP images[] = {normal, mouseOver, pressed, disabled};
    for (int i = 0; i < 4; ++i) {
        bool seen = false;
        for (int j = 0; j < i; ++j) seen = seen || images[j] == images[i];
        if (images[i] && !seen) ::DeleteObject(images[i]);
    }
}

void CBmpButton::LoadBitmaps(std::wstring normal, std::wstring mouseOver, std::wstring pressed, std::wstring disabled)
{
    SetBitmaps(LoadImageFile(normal), LoadImageFile(mouseOver.empty() ? normal : mouseOver),
               LoadImageFile(pressed.empty() ? normal : pressed), LoadImageFile(disabled.empty() ? normal : disabled));
}

void CBmpButton::SetBitmaps(HBITMAP normal, HBITMAP mouseOver, HBITMAP pressed, HBITMAP disabled)
{
    HBITMAP oldNormal = m_hNormalImage, oldMouseOver = m_hMouseOverImage;
    HBITMAP oldPressed = m_hPressedImage, oldDisabled = m_hDisabledImage;
    m_retiring[0] = oldNormal;
    m_retiring[1] = oldMouseOver;
    m_retiring[2] = oldPressed;
    m_retiring[3] = oldDisabled;

    m_hNormalImage = normal;
    m_hMouseOverImage = mouseOver;
    m_hPressedImage = pressed;
    m_hDisabledImage = disabled;

    ChangeBitMap(m_bDisabled ? m_hDisabledImage : m_hNormalImage);
    // Images of an earlier call are freed only once the control no longer shows them.
    for (HBITMAP& image : m_retiring) image = nullptr;
    ReleaseImages(oldNormal, oldMouseOver, oldPressed, oldDisabled);
}

bool CBmpButton::IsOwnImage(HBITMAP image) const
{
    for (HBITMAP retiring : m_retiring)
        if (retiring && image == retiring) return true;
    return image == m_hNormalImage || image == m_hMouseOverImage || image == m_hPressedImage ||
           image == m_hDisabledImage;
}

void CBmpButton::ChangeBitMap(HBITMAP image)
{
    Log("In ChangeBitMap");
    HBITMAP previous = nullptr;
    {
        CCriticalSectionLock lock(m_imageLock);
        Log("ChangeBitMap Locked..");
        if (m_hWnd) previous = SetBitmap(image);
    }
    Log("ChangeBitMap Unlocked..");
    // A static of the version-6 common controls keeps a copy of images with alpha and hands the
    // copy back here; that copy is ours to free.
    if (previous && !IsOwnImage(previous) && previous != image) ::DeleteObject(previous);
}

LRESULT CBmpButton::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == AccessibleMessage() && lParam) {
        if (static_cast<LONG>(wParam) != OBJID_CLIENT) return FALSE;
        auto* facts = reinterpret_cast<AccessibleFacts*>(lParam);
        facts->role = ROLE_SYSTEM_PUSHBUTTON;
        facts->hasName = true;
        facts->name = m_strAccessibleName.empty() ? GetWindowText() : m_strAccessibleName;
        facts->defaultAction = L"Press";
        facts->doesDefaultAction = true;
        if (m_bDisabled) facts->stateAdded |= STATE_SYSTEM_UNAVAILABLE;
        if (GetStyle() & WS_TABSTOP) facts->stateAdded |= STATE_SYSTEM_FOCUSABLE;
        if (::GetFocus() == m_hWnd) facts->stateAdded |= STATE_SYSTEM_FOCUSED;
        facts->stateRemoved = STATE_SYSTEM_READONLY;
        return TRUE;
    }
    if (message == AccessibleMessage()) {
        Click();
        return 0;
    }
    switch (message) {
    case WM_GETOBJECT:
        if (LRESULT answer = AnswerGetObject(m_hWnd, wParam, lParam)) return answer;
        break;
    case WM_LBUTTONDOWN:
        OnLButtonDown();
        return Default();
    case WM_LBUTTONUP:
    case WM_MOUSEMOVE:
        OnMouseMove();
        return Default();
    case WM_PAINT:
    case WM_PRINTCLIENT:
        return OnPaint(message, reinterpret_cast<HDC>(wParam), lParam);
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
    case WM_UPDATEUISTATE: {
        if (message == WM_KILLFOCUS) m_bSpaceDown = false;
        const LRESULT result = Default();
        ::InvalidateRect(m_hWnd, nullptr, FALSE);
        return result;
    }
    case WM_KEYDOWN:
        if (wParam != VK_SPACE) break;
        m_bSpaceDown = true;
        return 0;
    case WM_KEYUP:
        if (wParam != VK_SPACE || !m_bSpaceDown) break;
        m_bSpaceDown = false;
        // Released where it was pressed, as a push button's Space is: the parent gets the click
        // it would get from the mouse (and decides, also while the control shows disabled).
        Click();
        return 0;
    }
    return CStatic::WindowProc(message, wParam, lParam);
}

LRESULT CBmpButton::OnPaint(UINT message, HDC dc, LPARAM lParam)
{
    PAINTSTRUCT paint{};
    const bool ownPaint = message == WM_PAINT && !dc;
    if (ownPaint) dc = ::BeginPaint(m_hWnd, &paint);
    LRESULT result = 0;
    if (dc) {
        // The static draws its image; the cue goes over it, so every paint shows both.
        result = CallDefault(WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), message == WM_PRINTCLIENT ? lParam : PRF_CLIENT);
        const LRESULT cues = ::SendMessageW(m_hWnd, WM_QUERYUISTATE, 0, 0);
        if (::GetFocus() == m_hWnd && !(cues & UISF_HIDEFOCUS)) {
            RECT client{};
            ::GetClientRect(m_hWnd, &client);
            ::DrawFocusRect(dc, &client);
        }
    }
    if (ownPaint) ::EndPaint(m_hWnd, &paint);
    return ownPaint ? 0 : result;
}

void CBmpButton::Click()
{
    if (HWND parent = ::GetParent(m_hWnd))
        ::SendMessageW(parent, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(), STN_CLICKED), reinterpret_cast<LPARAM>(m_hWnd));
}

void CBmpButton::OnLButtonDown()
{
    if (!m_bDisabled) ChangeBitMap(m_hPressedImage);
}

void CBmpButton::OnMouseMove()
{
    if (!m_bDisabled) ChangeBitMap(m_hMouseOverImage);
}
