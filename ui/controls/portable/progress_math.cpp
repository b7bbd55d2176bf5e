#include "ui/controls/portable/progress_math.h"

#include <climits>
#include <cmath>

#include "support/portable/decimal.h"

namespace {
int TruncateSaturated(double value)
{
    if (std::isnan(value)) return 0;
    if (value >= static_cast<double>(INT_MAX)) return INT_MAX;
    if (value <= static_cast<double>(INT_MIN)) return INT_MIN;
    return static_cast<int>(value);  // truncates toward zero
}

double Fraction(int position, int lower, int upper)
{
    // In double: the int differences themselves can overflow.
    return (static_cast<double>(position) - lower) / (static_cast<double>(upper) - lower);
}
}  // namespace

int ProgressBarWidth(int position, int lower, int upper, int width)
{
    if (lower >= upper) return 0;
    return TruncateSaturated(Fraction(position, lower, upper) * width);
}

int ProgressPercent(int position, int lower, int upper)
{
    if (lower >= upper) return 0;
    return TruncateSaturated(Fraction(position, lower, upper) * 100.0);
}

std::wstring FormatPercent(int percent) { return WideDecimal(percent) + L'%'; }
