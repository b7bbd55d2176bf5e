#include "support/portable/decimal.h"

std::wstring WideDecimal(long long value)
{
    // Unsigned arithmetic, so that the most negative value has a magnitude too.
    unsigned long long magnitude = value < 0 ? 0ull - static_cast<unsigned long long>(value)
                                             : static_cast<unsigned long long>(value);
    wchar_t digits[24];
    size_t first = sizeof digits / sizeof digits[0];
    do {
        digits[--first] = static_cast<wchar_t>(L'0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude > 0);
    if (value < 0) digits[--first] = L'-';
    return std::wstring(digits + first, digits + sizeof digits / sizeof digits[0]);
}
