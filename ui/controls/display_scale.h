#pragma once
#include <windows.h>

#include "ui/controls/portable/display_scale.h"

// Messages of Windows 10 that the headers give only to programs declaring that version.
#ifndef WM_DPICHANGED
#define WM_DPICHANGED 0x02E0
#endif
#ifndef WM_GETDPISCALEDSIZE
#define WM_GETDPISCALEDSIZE 0x02E4
#endif

// The DPI `window` is drawn at: GetDpiForWindow where the system has it (Windows 10 and later);
// else the scale of the monitor the window is on (GetDpiForMonitor, Windows 8.1); else the system
// DPI. The reference DPI for a null window.
UINT WindowDpi(HWND window);

// The DPI the dialog manager made `dialog`'s template font and dialog units for: the window's
// where the system scales dialogs per monitor (it has GetDpiForWindow), else the system DPI (on
// Windows 8.1 a dialog on a monitor of another scale still starts with the system's font).
UINT DialogManagerDpi(HWND dialog);

// The system's DPI queries that WindowDpi uses, each null where the system lacks it.
struct DpiQueries {
    using ForWindow = UINT(WINAPI*)(HWND);
    using ForMonitor = HRESULT(WINAPI*)(HMONITOR, int dpiType, UINT* x, UINT* y);
    ForWindow forWindow = nullptr;    // GetDpiForWindow (user32)
    ForMonitor forMonitor = nullptr;  // GetDpiForMonitor (shcore), looked up only without the first
};
// Test seam: WindowDpi asks `queries` (kept by the caller) instead of the system; null restores.
void SetDpiQueriesForTesting(const DpiQueries* queries);

// Keeps the dialog manager of Windows 10 1703 and later from resizing a dialog, moving its
// controls and replacing its fonts when the DPI changes: the skinned base does that itself, from
// the skin's own layout. Nothing where the call does not exist (earlier Windows, Wine).
void TakeOverDialogDpiChanges(HWND dialog);

// `source` resized to width x height with HALFTONE filtering, as a new 24-bit DIB section that
// the caller owns; the source is left alone. Null when it cannot be made.
HBITMAP ScaleBitmap(HBITMAP source, int width, int height);

// `source` in a new 24-bit DIB section of width x height that the caller owns: copied at its own
// size from the top-left corner, its last column and row repeated to fill the rest. Null when it
// cannot be made.
HBITMAP ExtendBitmap(HBITMAP source, int width, int height);

// A skin image (one of the kSkin* names) for a window at `dpi`, owned by the caller. The set drawn
// for that scale is taken as it is; between scales the next larger set is scaled down; a set
// that is missing falls back the same way (each one logged once per process), and a smaller
// set is scaled up only when no larger one has the image. The image keeps its own size scaled
// from its set's scale to `dpi`; up to one reference pixel short of `fit` (a background: the
// dialog's client area) it is extended to that size by repeating its last column and row, since
// a set's sizes are rounded at its own scale (and one template is a dialog unit wider than its
// skin). `setUsed` receives the percentage of the set it came from, 0 when no set has it (then
// the result is null).
HBITMAP LoadSkinImageForDpi(const wchar_t* imageName, UINT dpi, const SIZE* fit = nullptr, int* setUsed = nullptr);
