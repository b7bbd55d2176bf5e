#include "ui/dialogs/dialog_common.h"

#include <vector>

#include "support/portable/narrow.h"
#include "ui/dialogs/smaller_dialog.h"

void RunPromptSkinSetup(CBitmapDialog& prompt, CBmpButton& closeControl, SkinRows<SkinFont> fonts,
                        SkinRows<SkinText> texts, SkinRows<LabelColours> colours, int continueId,
                        SkinRows<LabelledControl> labels)
{
    SkinSetup skin(kSkinSmallBackground, fonts, texts);
    skin.closeControl = &closeControl;
    skin.confirmQuit = AskQuitConfirmation;
    skin.colours = colours;
    skin.placement = SkinPlacement::OwnerCorner;
    skin.nameId = IDC_CAPTION;
    skin.labels = labels;
    prompt.RunSkinSetup(skin);
    prompt.SendMessage(DM_SETDEFID, static_cast<WPARAM>(continueId));
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
