#pragma once
// Pieces the installer's dialogs share: colours, texts by key, the 8-bit round trip of typed
// text, and the resting image of a close control.
#include <windows.h>

#include <string>

#include "framework/gdi.h"
#include "ui/controls/bitmap_dialog.h"

class CBmpButton;

namespace dialog_colours {
constexpr COLORREF kCaptionBand = RGB(231, 82, 0);
constexpr COLORREF kCream = RGB(255, 247, 206);
constexpr COLORREF kBrown = RGB(156, 95, 46);
constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr COLORREF kBlack = RGB(0, 0, 0);
constexpr COLORREF kLinkBlue = RGB(0, 0, 255);
}  // namespace dialog_colours

// The text of `key` from the English table the dialogs read (empty for a missing key).
std::wstring DialogText(const wchar_t* key);

// Opaque label colours; the brush is the dialog's own cached brush of the background colour.
HBRUSH PaintStaticOpaque(CBitmapDialog& dialog, CDC* dc, COLORREF background, COLORREF text);

// The control's id when it is a direct child of `dialog`, else 0.
int ControlId(const CWnd* dialog, const CWnd* control);

// Typed text handed over the way the C runtime's default locale narrows it and the ANSI code
// page widens it again, at most `maxBytes` - 1 characters. Text with a character above U+00FF
// cannot make that trip without loss and is kept exactly as typed.
std::wstring RoundTripTypedText(const std::wstring& typed, size_t maxBytes);

// At most `capacity` - 1 characters of control `id`, as GetWindowText into such a buffer.
std::wstring ReadControlText(HWND dialog, int id, int capacity);

// The close control's image at rest: the disabled one while it is disabled, else the normal one.
void ShowRestingImage(CBmpButton& closeControl);
