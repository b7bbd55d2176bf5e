#include "ui/controls/portable/display_scale.h"

#include <climits>
#include <cstdint>

namespace {
// value * numerator / denominator, rounded half away from zero; saturates instead of overflowing.
int MulDivRounded(int value, int numerator, int denominator)
{
    if (denominator == 0) return value;
    int64_t product = static_cast<int64_t>(value) * numerator;
    const bool negative = (product < 0) != (denominator < 0);
    const int64_t magnitude = product < 0 ? -product : product;
    const int64_t divisor = denominator < 0 ? -static_cast<int64_t>(denominator) : denominator;
    int64_t result = (magnitude + divisor / 2) / divisor;
    if (negative) result = -result;
    if (result > INT_MAX) return INT_MAX;
    if (result < INT_MIN) return INT_MIN;
    return static_cast<int>(result);
}

int EffectiveDpi(int dpi) { return dpi > 0 ? dpi : kReferenceDpi; }
}  // namespace

int ScaleToDpi(int length, int dpi) { return MulDivRounded(length, EffectiveDpi(dpi), kReferenceDpi); }

int ScaleFromDpi(int length, int dpi) { return MulDivRounded(length, kReferenceDpi, EffectiveDpi(dpi)); }

int DialogUnitsToPixels(int units, int baseUnit, int unitsPerBase)
{
    return unitsPerBase > 0 ? MulDivRounded(units, baseUnit, unitsPerBase) : units;
}

int PixelsToDialogUnits(int pixels, int baseUnit, int unitsPerBase)
{
    return baseUnit > 0 ? MulDivRounded(pixels, unitsPerBase, baseUnit) : pixels;
}

int ReferenceLength(int pixels, int baseNow, int baseReference, int unitsPerBase)
{
    if (baseNow <= 0 || baseReference <= 0 || baseNow == baseReference) return pixels;
    return DialogUnitsToPixels(PixelsToDialogUnits(pixels, baseNow, unitsPerBase), baseReference, unitsPerBase);
}

int RescaleLength(int length, int fromDpi, int toDpi)
{
    return MulDivRounded(length, EffectiveDpi(toDpi), EffectiveDpi(fromDpi));
}

int ScaleFontHeight(int height, int dpi)
{
    const int64_t scaled = static_cast<int64_t>(height) * EffectiveDpi(dpi) / kReferenceDpi;  // toward zero
    return scaled > INT_MAX ? INT_MAX : scaled < INT_MIN ? INT_MIN : static_cast<int>(scaled);
}

int ReferenceFontHeight(int height, int dpi)
{
    if (height >= 0) return ScaleFromDpi(height, dpi);  // a cell height: no point size behind it
    const int points = MulDivRounded(-height, 72, EffectiveDpi(dpi));
    return -MulDivRounded(points, kReferenceDpi, 72);
}

int ScalePercent(int dpi) { return MulDivRounded(100, EffectiveDpi(dpi), kReferenceDpi); }

SkinSetList SkinSetOrder(int dpi)
{
    const int wanted = ScalePercent(dpi);
    SkinSetList order{};
    int next = 0;
    for (int set : kSkinSetPercents)
        if (set >= wanted) order.percent[next++] = set;
    for (int i = kSkinSetCount - 1; i >= 0; --i)
        if (kSkinSetPercents[i] < wanted) order.percent[next++] = kSkinSetPercents[i];
    return order;
}

int ImageLengthForDpi(int length, int setPercent, int dpi)
{
    if (setPercent <= 0) return length;
    return MulDivRounded(length, 100 * EffectiveDpi(dpi), setPercent * kReferenceDpi);
}
