// The text progress bar: its pixels, empty ranges, positions without a window, and repainting
// only when the filled width changes, also when set from another thread.
#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "framework/app.h"
#include "ui/controls/text_progress.h"
#include "support/dialog_template.h"

namespace {

const COLORREF kBar = RGB(200, 0, 0);
const COLORREF kTrack = RGB(0, 0, 200);
const COLORREF kTextOnBar = RGB(255, 255, 0);
const COLORREF kTextOnTrack = RGB(0, 255, 0);

class CountingProgress : public CTextProgressCtrl {
public:
    // Paints with something to update. A position set from another thread can bring a second,
    // empty WM_PAINT under Wine (the sent one and the queued one); that one redraws nothing.
    std::atomic<int> paints{0};

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override
    {
        if (message == WM_PAINT && ::GetUpdateRect(m_hWnd, nullptr, FALSE)) ++paints;
        return CTextProgressCtrl::WindowProc(message, wParam, lParam);
    }
};

class TextProgressTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        AfxWinInit(GetModuleHandleW(nullptr), nullptr, nullptr, SW_SHOW);
        parent = CreateWindowExW(0, L"STATIC", L"", WS_POPUP | WS_VISIBLE, 100, 100, 260, 60, nullptr, nullptr,
                                 nullptr, nullptr);
        HWND bar = CreateWindowExW(0, PROGRESS_CLASSW, L"", WS_CHILD | WS_VISIBLE, 10, 10, 200, 20, parent, nullptr,
                                   nullptr, nullptr);
        ASSERT_TRUE(progress.SubclassWindow(bar));
        progress.m_crBar = kBar;
        progress.m_crTrack = kTrack;
        progress.m_crTextOnBar = kTextOnBar;
        progress.m_crTextOnTrack = kTextOnTrack;
        PumpMessages();
    }
    void TearDown() override { DestroyWindow(parent); }

    // Paints the control into a 200 x 20 memory bitmap filled with `fill` first.
    void Render(COLORREF fill)
    {
        HDC screen = GetDC(nullptr);
        bitmap.CreateCompatibleBitmap(screen, 200, 20);
        ReleaseDC(nullptr, screen);
        canvas.CreateCompatibleDC(nullptr);
        SelectObject(canvas, bitmap);
        canvas.FillSolidRect(RECT{0, 0, 200, 20}, fill);
        progress.SendMessage(WM_PRINTCLIENT, reinterpret_cast<WPARAM>(canvas.m_hDC), PRF_CLIENT);
    }

    HWND parent = nullptr;
    CountingProgress progress;
    CCompatibleDC canvas;
    CBitmap bitmap;
};

TEST_F(TextProgressTest, HalfOfTwoHundredPixelsWithTheTextSplitAtTheEdge)
{
    progress.SetPos(50);
    Render(RGB(1, 1, 1));
    EXPECT_EQ(GetPixel(canvas, 0, 0), kBar);
    EXPECT_EQ(GetPixel(canvas, 99, 19), kBar);
    EXPECT_EQ(GetPixel(canvas, 100, 0), kTrack);
    EXPECT_EQ(GetPixel(canvas, 199, 19), kTrack);

    // Text pixels (possibly smoothed into their part's colour): yellowish on the bar, greenish on
    // the track, never the other part's text colour.
    int onBar = 0, onTrack = 0, minX = 200, maxX = -1;
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 200; ++x) {
            COLORREF c = GetPixel(canvas, x, y);
            if (c == kBar || c == kTrack) continue;
            minX = std::min(minX, x);
            maxX = std::max(maxX, x);
            if (x < 100) {
                ++onBar;
                EXPECT_TRUE(GetGValue(c) > 0 && GetBValue(c) == 0 && GetRValue(c) > 0)
                    << "at " << x << "," << y << ": " << std::hex << c;
            } else {
                ++onTrack;
                EXPECT_TRUE(GetGValue(c) > 0 && GetRValue(c) == 0)
                    << "at " << x << "," << y << ": " << std::hex << c;
            }
        }
    // "50%" is centred: it straddles the edge with both colours.
    EXPECT_GT(onBar, 0);
    EXPECT_GT(onTrack, 0);
    EXPECT_LE(std::abs((minX + maxX) / 2 - 100), 3);
}

TEST_F(TextProgressTest, WithoutPercentAndOutsideTheRange)
{
    progress.m_bShowPercent = FALSE;
    progress.SetPos(25);
    Render(RGB(1, 1, 1));
    EXPECT_EQ(GetPixel(canvas, 49, 10), kBar);
    EXPECT_EQ(GetPixel(canvas, 50, 10), kTrack);
    EXPECT_EQ(GetPixel(canvas, 100, 10), kTrack);  // no text

    EXPECT_EQ(progress.SetPos(150), 25);  // stored as given ...
    EXPECT_EQ(progress.GetPos(), 150);
    Render(RGB(1, 1, 1));
    EXPECT_EQ(GetPixel(canvas, 199, 10), kBar);  // ... drawn up to the edge
    progress.SetPos(-10);
    Render(RGB(1, 1, 1));
    EXPECT_EQ(GetPixel(canvas, 0, 10), kTrack);
}

TEST_F(TextProgressTest, EmptyRangeDrawsNothingAndStillValidates)
{
    progress.m_nLower = 10;
    progress.m_nUpper = 10;
    progress.SetPos(10);
    Render(RGB(1, 2, 3));
    for (int x = 0; x < 200; x += 7) EXPECT_EQ(GetPixel(canvas, x, 10), RGB(1, 2, 3));
    progress.m_nUpper = 5;
    Render(RGB(1, 2, 3));
    EXPECT_EQ(GetPixel(canvas, 100, 10), RGB(1, 2, 3));

    // The paint request is answered even though nothing is drawn, or it would repeat for ever.
    int before = progress.paints;
    InvalidateRect(progress.m_hWnd, nullptr, TRUE);
    UpdateWindow(progress.m_hWnd);
    EXPECT_EQ(progress.paints, before + 1);
    EXPECT_FALSE(GetUpdateRect(progress.m_hWnd, nullptr, FALSE));
}

TEST(TextProgressNoWindow, SetPosBeforeTheWindowExistsIsRefused)
{
    CTextProgressCtrl progress;
    EXPECT_EQ(progress.SetPos(40), -1);
    EXPECT_EQ(progress.GetPos(), 0);
    EXPECT_EQ(progress.m_nLower, 0);
    EXPECT_EQ(progress.m_nUpper, 100);
    EXPECT_TRUE(progress.m_bShowPercent);
}

TEST_F(TextProgressTest, RepaintsOnlyWhenTheFilledWidthChanges)
{
    progress.m_nUpper = 100000;
    int start = progress.paints;
    EXPECT_EQ(progress.SetPos(1000), 0);  // 2 px
    EXPECT_EQ(progress.paints, start + 1);
    EXPECT_EQ(progress.SetPos(1400), 1000);  // still 2 px
    EXPECT_EQ(progress.paints, start + 1);
    progress.SetPos(2000);  // 4 px
    EXPECT_EQ(progress.paints, start + 2);
    progress.SetPos(2000);
    EXPECT_EQ(progress.paints, start + 2);
    // A resize forgets the last width: the same position repaints once more.
    SetWindowPos(progress.m_hWnd, nullptr, 0, 0, 200, 22, SWP_NOMOVE | SWP_NOZORDER);
    PumpMessages();
    int afterResize = progress.paints;
    progress.SetPos(2000);
    EXPECT_EQ(progress.paints, afterResize + 1);
}

TEST_F(TextProgressTest, PositionsFromAnotherThreadRepaintOnTheControlsThread)
{
    int start = progress.paints;
    std::atomic<bool> done{false};
    std::atomic<int> previous{-5};
    std::thread worker([&] {
        previous = progress.SetPos(30);
        progress.SetPos(30);
        done = true;
    });
    EXPECT_TRUE(WaitUntil([&] { return done.load(); }));
    worker.join();
    EXPECT_TRUE(WaitUntil([&] { return progress.paints.load() == start + 1; }));
    PumpMessages();
    EXPECT_EQ(progress.paints.load(), start + 1);
    EXPECT_EQ(previous.load(), 0);
    EXPECT_EQ(progress.GetPos(), 30);
}

}  // namespace
