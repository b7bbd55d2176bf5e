#pragma once
// Pieces the installer's dialogs share beside the skinned dialog base: the skin's colours, the
// proxy prompts' set-up and the 8-bit round trip of typed text.
#include <windows.h>

#include <cstddef>
#include <string>

#include "resources/resource.h"
#include "ui/controls/bitmap_dialog.h"

namespace dialog_colours {
constexpr COLORREF kCaptionBand = RGB(231, 82, 0);
constexpr COLORREF kCream = RGB(255, 247, 206);
constexpr COLORREF kBrown = RGB(156, 95, 46);
constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr COLORREF kBlack = RGB(0, 0, 0);
constexpr COLORREF kLinkBlue = RGB(0, 0, 255);
}  // namespace dialog_colours

// The skin set-up of the two proxy prompts: the Small.bmp face, a close control that asks
// before quitting, lying on the progress dialog. `continueId` is made the default button, so
// that Enter in a field goes on with what was typed.
void RunPromptSkinSetup(CBitmapDialog& prompt, CBmpButton& closeControl, SkinRows<SkinFont> fonts,
                        SkinRows<SkinText> texts, SkinRows<LabelColours> colours, int continueId,
                        SkinRows<LabelledControl> labels);

// Typed text handed over the way the C runtime's default locale narrows it and the ANSI code
// page widens it again, at most `maxBytes` - 1 characters. Text with a character above U+00FF
// cannot make that trip without loss and is kept exactly as typed.
std::wstring RoundTripTypedText(const std::wstring& typed, size_t maxBytes);

// At most `capacity` - 1 characters of control `id`, as GetWindowText into such a buffer.
std::wstring ReadControlText(HWND dialog, int id, int capacity);
