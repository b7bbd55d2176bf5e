#include "app/progress_link.h"

#include "download/engine_ui.h"
#include "support/shared_state.h"

#include "ui/dialogs/dependency_dialog.h"

namespace {
DWORD g_waitLimit = 10000;
bool g_waited = false;
void (*g_observer)(int) = nullptr;

DependencyDialog* ReadyDialog()
{
    DependencyDialog* dialog = ProgressDialog.load();
    if (dialog && IsWindow(dialog->GetSafeHwnd())) return dialog;
    return nullptr;
}
}  // namespace

namespace ProgressLink {

void SetWaitLimitForTesting(DWORD milliseconds) { g_waitLimit = milliseconds; }
void SetPositionObserverForTesting(void (*observer)(int)) { g_observer = observer; }

DependencyDialog* Dialog()
{
    DependencyDialog* dialog = ReadyDialog();
    if (dialog || g_waited) return dialog;
    // The dialog thread is started just before the download; give it time to publish the
    // dialog once, so that the bar shows the download's first positions too, and afterwards
    // never wait again.
    const ULONGLONG end = GetTickCount64() + g_waitLimit;
    while (!dialog && GetTickCount64() < end) {
        Sleep(10);
        dialog = ReadyDialog();
    }
    g_waited = true;
    return dialog;
}

void HideButton(BOOL blockClose, BOOL disableClose)
{
    if (DependencyDialog* dialog = Dialog()) dialog->HideButton(blockClose, disableClose);
}

void SetPos(int position)
{
    if (g_observer) g_observer(position);
    if (DependencyDialog* dialog = Dialog()) dialog->SetProgressPos(position);
}

void SetHeaderTexts(const std::wstring& caption, const std::wstring& body)
{
    if (DependencyDialog* dialog = Dialog()) dialog->SetHeaderTexts(caption, body);
}

void SetStatusTexts(const std::wstring& boldLine, const std::wstring& progressLine)
{
    if (DependencyDialog* dialog = Dialog()) dialog->SetStatusTexts(boldLine, progressLine);
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
