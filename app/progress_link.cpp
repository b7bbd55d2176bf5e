#include "app/progress_link.h"

#include "download/engine_ui.h"
#include "support/shared_state.h"

#include "ui/dialogs/dependency_dialog.h"

namespace {
DWORD g_waitLimit = 10000;
bool g_waitedForWindow = false;
bool g_waitedForPublication = false;
void (*g_observer)(int) = nullptr;

DependencyDialog* WithWindow()
{
    DependencyDialog* dialog = ProgressDialog.load();
    if (dialog && IsWindow(dialog->GetSafeHwnd())) return dialog;
    return nullptr;
}

DependencyDialog* Published() { return ProgressDialog.load(); }

// What `ready` gives, waiting for it (bounded) the first time only: the dialog thread is started
// just before the download, and is given time to get there once, never again.
DependencyDialog* WaitOnceFor(DependencyDialog* (*ready)(), bool* waited, DWORD pollMs)
{
    DependencyDialog* dialog = ready();
    if (dialog || *waited) return dialog;
    const ULONGLONG end = GetTickCount64() + g_waitLimit;
    while (!dialog && GetTickCount64() < end) {
        Sleep(pollMs);
        dialog = ready();
    }
    *waited = true;
    return dialog;
}

// The dialog as soon as its thread has made the object, which it does first: what the dialog is
// handed before its window exists, it shows once the window is there.
DependencyDialog* PublishedDialog() { return WaitOnceFor(Published, &g_waitedForPublication, 1); }
}  // namespace

namespace ProgressLink {

void SetWaitLimitForTesting(DWORD milliseconds) { g_waitLimit = milliseconds; }
void SetPositionObserverForTesting(void (*observer)(int)) { g_observer = observer; }

DependencyDialog* Dialog() { return WaitOnceFor(WithWindow, &g_waitedForWindow, 10); }

void HideButton(BOOL blockClose, BOOL disableClose)
{
    if (DependencyDialog* dialog = PublishedDialog()) dialog->HideButton(blockClose, disableClose);
}

void SetPos(int position)
{
    if (g_observer) g_observer(position);
    if (DependencyDialog* dialog = PublishedDialog()) dialog->SetProgressPos(position);
}

void SetHeaderTexts(const std::wstring& caption, const std::wstring& body)
{
    if (DependencyDialog* dialog = PublishedDialog()) dialog->SetHeaderTexts(caption, body);
}

void SetStatusTexts(const std::wstring& boldLine, const std::wstring& progressLine)
{
    if (DependencyDialog* dialog = PublishedDialog()) dialog->SetStatusTexts(boldLine, progressLine);
}

}  // namespace ProgressLink

namespace {
class DialogProgress final : public ProgressReport {
public:
    void HideButton(BOOL blockClose, BOOL disableClose) override { ProgressLink::HideButton(blockClose, disableClose); }
    void SetPos(int position) override { ProgressLink::SetPos(position); }
    void SetHeaderTexts(const std::wstring& caption, const std::wstring& body) override
    {
        ProgressLink::SetHeaderTexts(caption, body);
    }
    void SetStatusTexts(const std::wstring& boldLine, const std::wstring& progressLine) override
    {
        ProgressLink::SetStatusTexts(boldLine, progressLine);
    }
};

DialogProgress g_report;
}  // namespace

ProgressReport* ProgressLink::Report() { return &g_report; }
