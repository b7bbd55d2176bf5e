// Arithmetic and strings behind the skinned controls.
#include <gtest/gtest.h>

#include <climits>
#include <vector>

#include "support/portable/decimal.h"
#include "ui/controls/portable/browser_command.h"
#include "ui/controls/portable/display_scale.h"
#include "ui/controls/portable/progress_math.h"
#include "ui/controls/portable/skin_path.h"

TEST(BrowserCommandLine, QuotesProgramAndAddressAtFullLength)
{
    EXPECT_EQ(BuildBrowserCommandLine(L"C:\\Program Files", L"http://www.tarvelo.com/tour"),
              L"\"C:\\Program Files\\Internet Explorer\\IEXPLORE.EXE\" \"http://www.tarvelo.com/tour\"");
    // Longer than the 260-character buffers: kept whole, not cut.
    std::wstring url = L"http://www.tarvelo.com/" + std::wstring(400, L'a');
    std::wstring line = BuildBrowserCommandLine(L"C:\\Program Files", url);
    EXPECT_EQ(line.size(), 1 + 16 + 31 + 3 + url.size() + 1);
    EXPECT_EQ(line.substr(line.size() - 4), L"aaa\"");
}

TEST(ProgressMath, WidthAndPercentTruncateTowardZero)
{
    EXPECT_EQ(ProgressBarWidth(50, 0, 100, 200), 100);
    EXPECT_EQ(ProgressBarWidth(1, 0, 3, 200), 66);      // 66.67
    EXPECT_EQ(ProgressBarWidth(-1, 0, 3, 200), -66);    // toward zero, not down
    EXPECT_EQ(ProgressPercent(2, 0, 3), 66);
    EXPECT_EQ(ProgressPercent(61, 0, 100), 61);
    EXPECT_EQ(ProgressBarWidth(150, 0, 100, 200), 300);  // not clamped: positions stay as given
    EXPECT_EQ(ProgressPercent(150, 0, 100), 150);
    // Neighbouring positions on a wide range share one pixel width.
    EXPECT_EQ(ProgressBarWidth(1000, 0, 100000, 200), ProgressBarWidth(1400, 0, 100000, 200));
}

TEST(ProgressMath, EveryWholePercentIsShownAsItself)
{
    // In floating point 29 / 100 x 100 is 28.999..., and 57 is 56.999...: the bar said 28 % and
    // a screen reader heard no change from 28 to 29.
    EXPECT_EQ(ProgressPercent(29, 0, 100), 29);
    EXPECT_EQ(ProgressPercent(57, 0, 100), 57);
    for (int position = 0; position <= 100; ++position) ASSERT_EQ(ProgressPercent(position, 0, 100), position);
    EXPECT_EQ(ProgressBarWidth(29, 0, 100, 200), 58);
    EXPECT_EQ(ProgressBarWidth(57, 0, 100, 100), 57);
}

TEST(ProgressMath, EmptyRangesAndExtremesStayDefined)
{
    EXPECT_EQ(ProgressBarWidth(5, 10, 10, 200), 0);
    EXPECT_EQ(ProgressBarWidth(5, 20, 10, 200), 0);
    EXPECT_EQ(ProgressPercent(5, 10, 10), 0);
    // Differences beyond int and results beyond int saturate rather than overflow.
    EXPECT_EQ(ProgressBarWidth(INT_MAX, INT_MIN, INT_MAX, 200), 200);
    EXPECT_EQ(ProgressBarWidth(INT_MAX, 0, 1, 200), INT_MAX);
    EXPECT_EQ(ProgressPercent(INT_MIN, 0, 1), INT_MIN);
}

TEST(ProgressMath, PercentText)
{
    EXPECT_EQ(FormatPercent(42), L"42%");
    EXPECT_EQ(FormatPercent(0), L"0%");
    EXPECT_EQ(FormatPercent(100), L"100%");
    EXPECT_EQ(FormatPercent(-7), L"-7%");
    EXPECT_EQ(FormatPercent(INT_MIN), L"-2147483648%");
    EXPECT_EQ(WideDecimal(LLONG_MIN), L"-9223372036854775808");
    EXPECT_EQ(WideDecimal(LLONG_MAX), L"9223372036854775807");
}

TEST(SkinImagePath, AppendsTheNameAndRefusesWhatDoesNotFit)
{
    EXPECT_EQ(BuildSkinImagePath(L"C:\\run", kSkinSmallBackground), L"C:\\run\\Images\\Small.bmp");
    EXPECT_EQ(BuildSkinImagePath(L"C:\\run", kSkinCloseDisabled), L"C:\\run\\Images\\Disabled.bmp");
    std::wstring name = kSkinCloseNormal;  // 24 characters
    std::wstring fits(259 - name.size(), L'd');
    EXPECT_EQ(BuildSkinImagePath(fits, name).size(), 259u);
    EXPECT_EQ(BuildSkinImagePath(fits + L"d", name), L"");  // 260 would leave no room for the terminator
    EXPECT_EQ(BuildSkinImagePath(L"", name), L"");
}

TEST(DisplayScale, LengthsScaleFromTheReferenceDpiAndRoundLikeTheLayout)
{
    EXPECT_EQ(ScaleToDpi(458, 96), 458);
    EXPECT_EQ(ScaleToDpi(458, 120), 573);  // 572.5 rounds away from zero, as MulDiv does
    EXPECT_EQ(ScaleToDpi(458, 144), 687);
    EXPECT_EQ(ScaleToDpi(302, 144), 453);
    EXPECT_EQ(ScaleToDpi(458, 192), 916);
    EXPECT_EQ(ScaleToDpi(-11, 144), -17);  // font heights are negative: symmetric rounding
    EXPECT_EQ(ScaleFromDpi(-16, 144), -11);
    EXPECT_EQ(ScaleToDpi(21, 0), 21);  // no DPI known: the reference
    EXPECT_EQ(ScalePercent(96), 100);
    EXPECT_EQ(ScalePercent(120), 125);
    EXPECT_EQ(ScalePercent(144), 150);
    EXPECT_EQ(ScalePercent(168), 175);
    EXPECT_EQ(ScalePercent(192), 200);
    EXPECT_EQ(ScaleToDpi(INT_MAX, 192), INT_MAX);  // saturates rather than overflowing
    // A font made at 144 dpi by the dialog manager, rescaled from there each time, comes back
    // exactly; through the reference DPI it would not (-16 -> -11 -> -17).
    EXPECT_EQ(RescaleLength(-16, 144, 96), -11);
    EXPECT_EQ(RescaleLength(-16, 144, 192), -21);
    EXPECT_EQ(RescaleLength(-16, 144, 144), -16);
    EXPECT_EQ(ScaleToDpi(ScaleFromDpi(-16, 144), 144), -17);
    // Skin fonts never outgrow their boxes; dialog fonts go back to their whole point size.
    EXPECT_EQ(ScaleFontHeight(14, 120), 17);
    EXPECT_EQ(ScaleFontHeight(14, 144), 21);
    EXPECT_EQ(ScaleFontHeight(15, 168), 26);
    EXPECT_EQ(ScaleFontHeight(-14, 120), -17);
    EXPECT_EQ(ReferenceFontHeight(-13, 120), -11);  // 8 points; scaled back it would be -10
    EXPECT_EQ(ReferenceFontHeight(-16, 144), -11);
    EXPECT_EQ(ReferenceFontHeight(-21, 192), -11);
    EXPECT_EQ(ReferenceFontHeight(-11, 96), -11);
    EXPECT_EQ(ReferenceFontHeight(16, 144), 11);  // a cell height is scaled as it is
}

TEST(DisplayScale, TemplateLengthsGoBackToDialogUnitsExactly)
{
    // A 305 x 186 template with Tahoma 8 at 144 dpi (base units 9 x 19) is 686 x 442; with the
    // same font at 96 dpi (6 x 13) it is 458 x 302, which is what the skin is drawn for.
    EXPECT_EQ(DialogUnitsToPixels(305, 9, 4), 686);
    EXPECT_EQ(PixelsToDialogUnits(686, 9, 4), 305);
    EXPECT_EQ(ReferenceLength(686, 9, 6, 4), 458);
    EXPECT_EQ(ReferenceLength(442, 19, 13, 8), 302);
    // Every length the mapping gives goes back to its units, for every base unit in use.
    for (int base = 4; base <= 40; ++base)
        for (int units = 0; units <= 400; ++units)
            ASSERT_EQ(PixelsToDialogUnits(DialogUnitsToPixels(units, base, 4), base, 4), units) << base << " " << units;
    EXPECT_EQ(ReferenceLength(123, 6, 6, 4), 123);  // the same font: nothing to convert
    EXPECT_EQ(ReferenceLength(123, 0, 6, 4), 123);  // no base unit known
}

std::vector<int> SkinSetOrderList(int dpi)
{
    const SkinSetList order = SkinSetOrder(dpi);
    return std::vector<int>(std::begin(order.percent), std::end(order.percent));
}

TEST(DisplayScale, SkinSetsAreTriedLargerFirstThenSmallerDownToTheReference)
{
    EXPECT_EQ(SkinSetOrderList(96), (std::vector<int>{100, 125, 150, 200}));
    EXPECT_EQ(SkinSetOrderList(120), (std::vector<int>{125, 150, 200, 100}));
    EXPECT_EQ(SkinSetOrderList(144), (std::vector<int>{150, 200, 125, 100}));
    EXPECT_EQ(SkinSetOrderList(168), (std::vector<int>{200, 150, 125, 100}));  // 175 %: the 200 % set, scaled down
    EXPECT_EQ(SkinSetOrderList(192), (std::vector<int>{200, 150, 125, 100}));
    EXPECT_EQ(SkinSetOrderList(288), (std::vector<int>{200, 150, 125, 100}));  // 300 %: only smaller sets
    EXPECT_EQ(SkinSetOrderList(72), (std::vector<int>{100, 125, 150, 200}));
    // An image of a set shown at another scale.
    EXPECT_EQ(ImageLengthForDpi(916, 200, 168), 802);
    EXPECT_EQ(ImageLengthForDpi(687, 150, 144), 687);
    EXPECT_EQ(ImageLengthForDpi(22, 100, 144), 33);
    EXPECT_EQ(ImageLengthForDpi(44, 200, 96), 22);
}
