#include "support/portable/narrow.h"

// The C runtime's default ("C") locale maps U+0000..U+00FF to the byte of the same value and
// cannot represent anything above; every 8-bit text this program writes goes through here.
bool NarrowLatin1(const std::wstring& text, std::string& out, char replacement)
{
    out.clear();
    out.reserve(text.size());
    bool exact = true;
    for (wchar_t c : text) {
        const unsigned long u = static_cast<unsigned long>(c);
        if (u <= 0xFF) {
            out.push_back(static_cast<char>(static_cast<unsigned char>(u)));
        } else {
            out.push_back(replacement);
            exact = false;
        }
    }
    return exact;
}

std::wstring WidenLatin1(const std::string& text)
{
    std::wstring out;
    out.reserve(text.size());
    for (char c : text) out.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
    return out;
}
