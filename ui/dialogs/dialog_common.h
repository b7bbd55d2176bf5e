#pragma once
// Pieces the installer's dialogs share: colours and colour tables, the routing of the messages
// that close a dialog, placement over the owner, texts by key, the 8-bit round trip of typed
// text, and the resting image of a close control. Each dialog passes its own values.
#include <windows.h>

#include <cstddef>
#include <string>

#include "framework/gdi.h"
#include "resources/resource.h"
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

// One row of a dialog's label colour table.
struct LabelColours {
    int id;
    COLORREF background;  // kKeepBaseAnswer: the label keeps the base class's answer
    COLORREF text;
};
constexpr COLORREF kKeepBaseAnswer = CLR_INVALID;

struct ColourTable {
    const LabelColours* rows;
    size_t count;
    template <size_t N>
    constexpr ColourTable(const LabelColours (&table)[N]) : rows(table), count(N) {}
};

bool IsCtlColorMessage(UINT message);

// The colour answer of a dialog that colours its statics by `table`, given the base class's
// answer: other kinds of control keep that answer, a static of the table gets its row, and any
// other static (the close control) white with black text.
HBRUSH ColourByTable(CBitmapDialog& dialog, CDC* dc, CWnd* control, UINT ctlColor, HBRUSH baseAnswer,
                     ColourTable table);

// Unpacks a WM_CTLCOLOR* message the way the framework does and answers it by `table`;
// `baseAnswer(dc, control, ctlColor)` is the dialog's base-class handler.
template <class BaseAnswer>
LRESULT AnswerCtlColor(CBitmapDialog& dialog, UINT message, WPARAM wParam, LPARAM lParam, ColourTable table,
                       BaseAnswer baseAnswer)
{
    CDC dc(reinterpret_cast<HDC>(wParam));
    CWnd* control = dialog.WrapHandle(reinterpret_cast<HWND>(lParam));
    const UINT ctlColor = message - WM_CTLCOLORMSGBOX;
    return reinterpret_cast<LRESULT>(
        ColourByTable(dialog, &dc, control, ctlColor, baseAnswer(&dc, control, ctlColor), table));
}

// How a system command is told to be Close: masked to its command bits (as the platform
// documents) or compared exactly as it came.
enum class SysCloseMatch { Masked, Exact };

// The messages that close a skinned dialog: the close control's click and the system Close
// command (menu, Alt+F4, taskbar) run `ask`, WM_CLOSE runs `close`. True when `message` was one
// of them; everything else is left to the dialog.
template <class Ask, class Close>
bool RouteCloseMessages(UINT message, WPARAM wParam, SysCloseMatch match, Ask ask, Close close)
{
    switch (message) {
    case WM_COMMAND:
        if (LOWORD(wParam) != IDC_CLOSE_CONTROL || HIWORD(wParam) != STN_CLICKED) return false;
        ask();
        return true;
    case WM_SYSCOMMAND:
        if ((match == SysCloseMatch::Exact ? wParam : (wParam & 0xFFF0)) != SC_CLOSE) return false;
        ask();
        return true;
    case WM_CLOSE:
        close();
        return true;
    default:
        return false;
    }
}

// The dialog's big and small icon (the dialogs load none, so both are cleared).
void SetDialogIcons(CWnd& dialog, HICON icon);

// The proxy prompts lie with their top-left corner on the owner's (the progress dialog, which
// has the same size, is covered exactly); without an owner they are centred.
void PlaceOnOwnerCorner(CBitmapDialog& dialog);

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
