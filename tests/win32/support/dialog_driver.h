#pragma once
// In-process helpers for tests that drive real dialogs of this process, from a second thread (or
// a timer on the dialog's own thread). User actions are posted, never sent, so a driver never
// blocks on a handler that opens a nested modal dialog (the quit confirmation, say).
// Every wait polls for a state and is bounded by the one limit of the test programs
// (WaitLimitMs); nothing depends on timing.
#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/tools/support/wait_limit.h"

namespace dialog_driver {

// The limit of every wait for a state: a machine doing twice the work of a loaded run, times
// TARVELO_TIMEOUT_SCALE (tests/tools/support/wait_limit.h).
inline DWORD WaitLimitMs() { return e2e::WaitLimitMs(); }

// -- finding windows ------------------------------------------------------------------------------

// Visible top-level dialogs (class #32770) of this process, topmost first.
std::vector<HWND> ProcessDialogs();

// A control id that only the given template has (102, 103, 104, 112 or 117); 0 for others.
int SignatureControl(UINT templateId);

// Waits for a visible top-level dialog of this process that has child control `controlId` and is
// not `exclude`; null after the timeout.
HWND WaitForDialogWithControl(int controlId, DWORD timeoutMs = WaitLimitMs(), HWND exclude = nullptr);

// Waits for a visible dialog created from one of the installer's templates.
HWND WaitForDialog(UINT templateId, DWORD timeoutMs = WaitLimitMs(), HWND exclude = nullptr);

// Waits until `window` is gone or hidden; false after the timeout.
bool WaitForClosed(HWND window, DWORD timeoutMs = WaitLimitMs());

// Polls `condition` until it holds; false after the timeout.
bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs = WaitLimitMs());

// -- reading ----------------------------------------------------------------------------------------

std::wstring WindowText(HWND window);
std::wstring ControlText(HWND dialog, int id);
// The font the control draws with (WM_GETFONT + GetObject); lfFaceName empty when none.
LOGFONTW ControlFont(HWND dialog, int id);
bool ControlVisible(HWND dialog, int id);
// The control's rectangle in the dialog's client coordinates.
RECT ControlRect(HWND dialog, int id);

// What the dialog's WM_CTLCOLORSTATIC answer leaves in a device context for control `id`.
struct CtlColors {
    HBRUSH brush = nullptr;
    COLORREF background = 0;  // GetBkColor afterwards
    COLORREF text = 0;        // GetTextColor afterwards
    int mode = 0;             // GetBkMode afterwards (OPAQUE / TRANSPARENT)
    COLORREF brushColour = CLR_INVALID;  // the brush's colour when it is a solid brush
};
CtlColors QueryCtlColorStatic(HWND dialog, int id);

// -- acting (all posted) ------------------------------------------------------------------------------

void SetEditText(HWND dialog, int id, const std::wstring& text);  // sent: WM_SETTEXT
// WM_COMMAND(id, BN_CLICKED) from the button, as a click would deliver it.
void ClickButton(HWND dialog, int id);
// BM_CLICK posted to the button: the button itself turns it into a click.
void PressButton(HWND dialog, int id);
// A left-button press and release on a static with SS_NOTIFY (the close control 1028).
void ClickStatic(HWND dialog, int id);
// Enter / Escape as the focused control (or the dialog) receives them from the keyboard.
void PressEnter(HWND dialog);
void PressEscape(HWND dialog);
void PressKeyIn(HWND dialog, int controlId, WPARAM key);
void PostClose(HWND dialog);                // WM_CLOSE
void PostSystemClose(HWND dialog);          // WM_SYSCOMMAND SC_CLOSE (system menu Close, Alt+F4)
void MoveMouseOver(HWND window, int x = 2, int y = 2);  // WM_MOUSEMOVE at a client point

// -- running --------------------------------------------------------------------------------------------

// Runs `driver` on a second thread while `modal` runs on this one (typically a DoModal), and
// returns modal's result after the driver has finished. `driverOk` (optional) receives whether
// the driver returned true; a driver that returns false should have made its own EXPECTs.
INT_PTR RunDriven(const std::function<INT_PTR()>& modal, const std::function<bool()>& driver,
                  bool* driverOk = nullptr);

// Changes the current directory to the run folder of the Windows test tree (ConfigFile.txt, the
// text table and Images), from TARVELO_BUILD_DIR; false when it is not there.
bool EnterRunFolder();

// The set-up every program testing real dialogs needs: the run folder as the current directory
// (text table and skin) and the window layer initialised. Register it once per program.
class RunFolderEnvironment : public ::testing::Environment {
public:
    void SetUp() override;
};

// The English text of a key of the text table.
std::wstring Text(const wchar_t* key);

// Saves the window's screen pixels (its window rectangle) as a 24-bit BMP.
bool SaveWindowBitmap(HWND window, const std::wstring& path);

// -- reporting ------------------------------------------------------------------------------------

// A window's text in UTF-8, for a failing expectation's message.
std::string Narrow(const std::wstring& text);

}  // namespace dialog_driver
