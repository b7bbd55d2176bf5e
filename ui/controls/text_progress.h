#pragma once
#include <windows.h>
#include <atomic>

#include "framework/controls.h"
#include "framework/gdi.h"

// An off-screen DC over a target DC: drawing lands in a bitmap of the target's clip box, which
// is copied to the target in one BitBlt when the object ends. Printer DCs are drawn directly.
class CMemDC : public CDC {
public:
    explicit CMemDC(CDC* target);
    ~CMemDC() override;
    CMemDC(const CMemDC&) = delete;
    CMemDC& operator=(const CMemDC&) = delete;

    CBitmap m_offscreenBitmap;
    HGDIOBJ m_pPreviousBitmap = nullptr;
    CDC* m_pTargetDC;
    RECT m_rcArea{};
    BOOL m_bOffscreen = FALSE;
};

// A progress bar that paints itself: the filled part, the rest, and a centred percentage whose
// colour changes where it crosses the edge of the filled part. The range, the percentage switch
// and the colours are fields the owner writes (on the control's thread, before it is shown).
// Screen readers meet it as a progress bar named by its label, whose value is the percentage;
// each change of the percentage is announced.
class CTextProgressCtrl : public CProgressCtrl {
public:
    CTextProgressCtrl();

    // Any thread. Stores the position (not clamped) and returns the previous one; -1 and no change
    // while the control has no window. Repaints at once, only when the filled width in pixels
    // changes; from another thread that means waiting for the control's thread to paint (the
    // progress dialog hands its positions to that thread instead: DependencyDialog::SetProgressPos).
    int SetPos(int position);
    int GetPos() const { return m_nPos; }

    int m_nUpper = 100;
    int m_nLower = 0;
    BOOL m_bShowPercent = TRUE;
    COLORREF m_crBar;
    COLORREF m_crTrack;
    COLORREF m_crTextOnTrack;
    COLORREF m_crTextOnBar;

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    void OnPaint();
    // Draws bar and text for `client` into `target` through a CMemDC.
    void DrawBar(CDC* target, const RECT& client);

private:
    std::atomic<int> m_nPos{0};
    std::atomic<int> m_nLastBarWidth{-1};  // filled width at the last repaint request; -1 unknown
    std::atomic<int> m_nLastPercent{0};    // the percentage last announced
};
