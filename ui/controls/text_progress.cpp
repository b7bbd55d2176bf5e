#include "ui/controls/text_progress.h"

#include <oleacc.h>

#include <algorithm>

#include "ui/controls/accessible.h"
#include "ui/controls/portable/progress_math.h"

CMemDC::CMemDC(CDC* target) : m_pTargetDC(target)
{
    if (!target->IsPrinting()) {
        target->GetClipBox(&m_rcArea);
        HDC memory = ::CreateCompatibleDC(target->GetSafeHdc());
        if (memory && m_offscreenBitmap.CreateCompatibleBitmap(target->GetSafeHdc(), m_rcArea.right - m_rcArea.left,
                                                               m_rcArea.bottom - m_rcArea.top)) {
            m_hDC = memory;
            m_bOffscreen = TRUE;
            m_pPreviousBitmap = ::SelectObject(m_hDC, m_offscreenBitmap);
            ::SetWindowOrgEx(m_hDC, m_rcArea.left, m_rcArea.top, nullptr);
            return;
        }
        if (memory) ::DeleteDC(memory);
    }
    // Printing, or no off-screen buffer to be had: draw straight into the target.
    m_hDC = target->GetSafeHdc();
}

CMemDC::~CMemDC()
{
    if (m_bOffscreen) {
        ::BitBlt(m_pTargetDC->GetSafeHdc(), m_rcArea.left, m_rcArea.top, m_rcArea.right - m_rcArea.left,
                 m_rcArea.bottom - m_rcArea.top, m_hDC, m_rcArea.left, m_rcArea.top, SRCCOPY);
        ::SelectObject(m_hDC, m_pPreviousBitmap);
        ::DeleteDC(m_hDC);
    }
    m_hDC = nullptr;  // a borrowed target DC is not ours to release
}

CTextProgressCtrl::CTextProgressCtrl()
    : m_crBar(GetSysColor(COLOR_HIGHLIGHT)),
      m_crTrack(GetSysColor(COLOR_WINDOW)),
      m_crTextOnTrack(GetSysColor(COLOR_HIGHLIGHT)),
      m_crTextOnBar(GetSysColor(COLOR_WINDOW))
{
}

int CTextProgressCtrl::SetPos(int position)
{
    HWND window = m_hWnd;
    if (!window || !::IsWindow(window)) return -1;
    int previous = m_nPos.exchange(position);
    RECT client{};
    ::GetClientRect(window, &client);
    int bar = ProgressBarWidth(position, m_nLower, m_nUpper, client.right - client.left);
    if (m_nLastBarWidth.exchange(bar) != bar)
        ::RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    const int percent = ProgressPercent(position, m_nLower, m_nUpper);
    if (m_nLastPercent.exchange(percent) != percent) AnnounceValueChange(window);
    return previous;
}

LRESULT CTextProgressCtrl::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == AccessibleMessage() && lParam) {
        if (static_cast<LONG>(wParam) != OBJID_CLIENT) return FALSE;
        auto* facts = reinterpret_cast<AccessibleFacts*>(lParam);
        facts->role = ROLE_SYSTEM_PROGRESSBAR;
        facts->hasName = true;
        facts->name = LabelOf(m_hWnd);
        facts->hasValue = true;
        facts->value = FormatPercent(ProgressPercent(m_nPos, m_nLower, m_nUpper));
        facts->stateAdded = STATE_SYSTEM_READONLY;
        return TRUE;
    }
    switch (message) {
    case WM_GETOBJECT:
        if (LRESULT answer = AnswerGetObject(m_hWnd, wParam, lParam)) return answer;
        break;
    case WM_ERASEBKGND:
        return TRUE;  // the paint covers everything
    case PBM_GETPOS:
        // The position lives here, not in the common control below: answer readers outside the
        // object (accessibility tools, other processes) with the one that is drawn.
        return m_nPos.load();
    case WM_PAINT:
        OnPaint();
        return 0;
    case WM_PRINTCLIENT: {
        CDC target(reinterpret_cast<HDC>(wParam));
        RECT client{};
        GetClientRect(&client);
        DrawBar(&target, client);
        return 0;
    }
    case WM_SIZE: {
        LRESULT result = Default();
        m_nLastBarWidth = -1;
        return result;
    }
    }
    return CProgressCtrl::WindowProc(message, wParam, lParam);
}

void CTextProgressCtrl::OnPaint()
{
    // Painting always begins and ends, even when there is nothing to draw: a WM_PAINT left
    // unvalidated would come back at once, for ever.
    CPaintDC paint(this);
    // A position set from the download thread repaints at once through a sent WM_PAINT, and
    // Wine then often delivers the queued one as well, with nothing left to update: about half
    // of all paints during a download. Drawing the whole bar off-screen into an empty clip
    // would change no pixel and only cost time on the thread the download waits for.
    RECT box{};
    if (::GetClipBox(paint.GetSafeHdc(), &box) == NULLREGION) return;
    RECT client{};
    GetClientRect(&client);
    DrawBar(&paint, client);
}

void CTextProgressCtrl::DrawBar(CDC* target, const RECT& client)
{
    if (m_nLower >= m_nUpper) return;
    int position = m_nPos;
    int width = client.right - client.left;
    // Out-of-range positions stay stored as given; the drawing stops at the client edges.
    int split = client.left + std::clamp(ProgressBarWidth(position, m_nLower, m_nUpper, width), 0, width);
    RECT bar = client;
    bar.right = split;
    RECT track = client;
    track.left = split;

    CMemDC dc(target);
    dc.FillSolidRect(bar, m_crBar);
    dc.FillSolidRect(track, m_crTrack);
    if (!m_bShowPercent) return;

    std::wstring text = FormatPercent(ProgressPercent(position, m_nLower, m_nUpper));
    dc.SetBkMode(TRANSPARENT);
    // Drawn twice at the same place, each time clipped to one part, so that each half of a
    // character on the edge takes the colour of its own part. Clip regions are in device units.
    const struct {
        RECT part;
        COLORREF colour;
    } passes[] = {{bar, m_crTextOnBar}, {track, m_crTextOnTrack}};
    for (const auto& pass : passes) {
        RECT device = pass.part;
        ::LPtoDP(dc, reinterpret_cast<POINT*>(&device), 2);
        CRgn clip;
        clip.CreateRectRgnIndirect(device);
        dc.SelectClipRgn(clip);
        dc.SetTextColor(pass.colour);
        RECT area = client;
        dc.DrawText(text, &area, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    }
    dc.SelectClipRgn(nullptr);
}
