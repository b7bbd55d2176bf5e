#include "ui/controls/portable/progress_math.h"

#include <climits>
#include <cstdint>

#include "support/portable/decimal.h"

namespace {
// (position - lower) x scale / (upper - lower), truncated toward zero, in exact integers: in
// floating point 29 of 0..100 came out as 28.999... and showed 28 %. Magnitudes fit: the
// differences are below 2^32 and the scale below 2^31, so their product stays below 2^63.
int ScaledShare(int position, int lower, int upper, int scale)
{
    const int64_t offset = static_cast<int64_t>(position) - lower;
    const uint64_t range = static_cast<uint64_t>(static_cast<int64_t>(upper) - lower);
    const bool negative = (offset < 0) != (scale < 0);
    const uint64_t magnitude = static_cast<uint64_t>(offset < 0 ? -offset : offset) *
                               static_cast<uint64_t>(scale < 0 ? -static_cast<int64_t>(scale) : scale) / range;
    if (negative) return magnitude > static_cast<uint64_t>(INT_MAX) + 1 ? INT_MIN : static_cast<int>(-static_cast<int64_t>(magnitude));
    return magnitude > static_cast<uint64_t>(INT_MAX) ? INT_MAX : static_cast<int>(magnitude);
}
}  // namespace

int ProgressBarWidth(int position, int lower, int upper, int width)
{
    if (lower >= upper) return 0;
    return ScaledShare(position, lower, upper, width);
}

int ProgressPercent(int position, int lower, int upper)
{
    if (lower >= upper) return 0;
    return ScaledShare(position, lower, upper, 100);
}

std::wstring FormatPercent(int percent) { return WideDecimal(percent) + L'%'; }
