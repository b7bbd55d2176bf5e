#pragma once
#include <windows.h>
#include <string>

class DependencyDialog;
class ProgressReport;

// The download thread's calls into the progress dialog, which runs on its own thread. Positions,
// texts and the close lock go to the dialog as soon as its thread has made it (the first call
// waits, bounded, for that, never for its window); while it is missing the calls do nothing. The
// download never waits for the dialog to show them: its thread shows them in order, and the end
// of the dialog comes after them.
namespace ProgressLink {
// The dialog once its window exists: the first call waits (bounded) for it. For what needs the
// window (an owner for the proxy questions, the end of the dialog).
DependencyDialog* Dialog();
void HideButton(BOOL blockClose, BOOL disableClose);
void SetPos(int position);
void SetHeaderTexts(const std::wstring& caption, const std::wstring& body);
void SetStatusTexts(const std::wstring& boldLine, const std::wstring& progressLine);

// The download engine's progress report, shown on the progress dialog through the calls above.
ProgressReport* Report();

// Test seams: the longest wait for the dialog (10 s by default) and an observer of every
// position given to the bar.
void SetWaitLimitForTesting(DWORD milliseconds);
void SetPositionObserverForTesting(void (*observer)(int position));
}  // namespace ProgressLink
