#pragma once
#include <windows.h>
#include <string>

class DependencyDialog;
class ProgressReport;

// The download thread's calls into the progress dialog, which runs on its own thread. The first
// call waits (bounded) until the dialog is published and its window exists; while it is missing
// the calls do nothing. After that the download never waits for the dialog: positions and texts
// are handed to its thread, which shows them in order, and the end of the dialog comes after them.
namespace ProgressLink {
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
