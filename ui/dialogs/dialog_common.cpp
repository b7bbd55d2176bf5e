#include "ui/dialogs/dialog_common.h"

#include <vector>

#include "support/localized_text.h"
#include "support/portable/narrow.h"
#include "ui/controls/bmp_button.h"

std::wstring DialogText(const wchar_t* key) { return LocalizedText::Instance(L"en-GB")->GetText(key); }

HBRUSH PaintStaticOpaque(CBitmapDialog& dialog, CDC* dc, COLORREF background, COLORREF text)
{
    dc->SetBkMode(OPAQUE);
    dc->SetBkColor(background);
    dc->SetTextColor(text);
    return dialog.SolidBrush(background);
}

bool IsCtlColorMessage(UINT message) { return message >= WM_CTLCOLORMSGBOX && message <= WM_CTLCOLORSTATIC; }

HBRUSH ColourByTable(CBitmapDialog& dialog, CDC* dc, CWnd* control, UINT ctlColor, HBRUSH baseAnswer,
                     ColourTable table)
{
    if (ctlColor != CTLCOLOR_STATIC) return baseAnswer;
    const int id = ControlId(&dialog, control);
    for (size_t i = 0; i < table.count; ++i) {
        const LabelColours& row = table.rows[i];
        if (row.id != id) continue;
        if (row.background == kKeepBaseAnswer) return baseAnswer;
        return PaintStaticOpaque(dialog, dc, row.background, row.text);
    }
    return PaintStaticOpaque(dialog, dc, dialog_colours::kWhite, dialog_colours::kBlack);
}

void SetDialogIcons(CWnd& dialog, HICON icon)
{
    dialog.SendMessage(WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    dialog.SendMessage(WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
}

void PlaceOnOwnerCorner(CBitmapDialog& dialog)
{
    if (CWnd* owner = dialog.GetParent()) {
        RECT r{};
        owner->GetWindowRect(&r);
        dialog.SetWindowPos(&CWnd::wndTop, r.left, r.top, 0, 0, SWP_NOSIZE);
    } else {
        dialog.CenterWindow();
    }
}

int ControlId(const CWnd* dialog, const CWnd* control)
{
    if (!dialog || !control || !control->m_hWnd) return 0;
    if (::GetParent(control->m_hWnd) != dialog->m_hWnd) return 0;
    return ::GetDlgCtrlID(control->m_hWnd);
}

std::wstring RoundTripTypedText(const std::wstring& typed, size_t maxBytes)
{
    std::wstring text = typed;
    if (maxBytes == 0) return std::wstring();
    if (text.size() > maxBytes - 1) text.resize(maxBytes - 1);
    std::string narrow;
    if (!NarrowLatin1(text, narrow)) return text;
    if (narrow.empty()) return std::wstring();
    const int length = ::MultiByteToWideChar(CP_ACP, 0, narrow.data(), static_cast<int>(narrow.size()), nullptr, 0);
    if (length <= 0) return text;
    std::wstring wide(static_cast<size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, narrow.data(), static_cast<int>(narrow.size()), &wide[0], length);
    return wide;
}

std::wstring ReadControlText(HWND dialog, int id, int capacity)
{
    std::vector<wchar_t> buffer(static_cast<size_t>(capacity), L'\0');
    const int copied = ::GetDlgItemTextW(dialog, id, buffer.data(), capacity);
    return std::wstring(buffer.data(), copied > 0 ? static_cast<size_t>(copied) : 0);
}

void ShowRestingImage(CBmpButton& closeControl)
{
    closeControl.ChangeBitMap(closeControl.m_bDisabled ? closeControl.m_hDisabledImage : closeControl.m_hNormalImage);
}
