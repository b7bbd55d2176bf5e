// Arithmetic and strings behind the skinned controls.
#include <gtest/gtest.h>

#include <climits>

#include "support/portable/decimal.h"
#include "ui/controls/portable/browser_command.h"
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
