#include "support/portable/carried_inputs.h"

namespace Carried {
namespace {

int Folded(unsigned int c)
{
    if (c == '\\') return '/';
    if (c >= 'A' && c <= 'Z') return static_cast<int>(c - 'A' + 'a');
    return static_cast<int>(c);
}

}  // namespace

bool IsName(const char* stored, const std::wstring& wanted)
{
    if (!stored || !*stored) return false;
    size_t at = !wanted.empty() && (wanted[0] == L'\\' || wanted[0] == L'/') ? 1 : 0;
    for (; *stored; ++stored, ++at) {
        const unsigned int s = static_cast<unsigned char>(*stored);
        if (at >= wanted.size() || s < 0x20 || s > 0x7E) return false;
        const unsigned int w = static_cast<unsigned int>(wanted[at]);
        if (w < 0x20 || w > 0x7E || Folded(s) != Folded(w)) return false;
    }
    return at == wanted.size();
}

}  // namespace Carried
