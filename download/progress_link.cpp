#include "download/progress_link.h"

#include "download/shared_state.h"

#if __has_include("ui/dialogs/dependency_dialog.h")
#include "ui/dialogs/dependency_dialog.h"
#define TARVELO_HAVE_PROGRESS_DIALOG 1
#else
#define TARVELO_HAVE_PROGRESS_DIALOG 0
#endif

namespace {
DWORD g_waitLimit = 10000;
bool g_waited = false;
void (*g_observer)(int) = nullptr;

DependencyDialog* ReadyDialog()
{
#if TARVELO_HAVE_PROGRESS_DIALOG
    DependencyDialog* dialog = ProgressDialog.load();
    if (dialog && IsWindow(dialog->GetSafeHwnd())) return dialog;
#endif
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
    // dialog once, and afterwards never wait again.
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
#if TARVELO_HAVE_PROGRESS_DIALOG
    if (DependencyDialog* dialog = Dialog()) dialog->HideButton(blockClose, disableClose);
#else
    (void)blockClose;
    (void)disableClose;
#endif
}

void SetPos(int position)
{
    if (g_observer) g_observer(position);
#if TARVELO_HAVE_PROGRESS_DIALOG
    if (DependencyDialog* dialog = Dialog()) dialog->m_progress.SetPos(position);
#endif
}

void SetHeaderTexts(const std::wstring& caption, const std::wstring& body)
{
#if TARVELO_HAVE_PROGRESS_DIALOG
    if (DependencyDialog* dialog = Dialog()) dialog->SetHeaderTexts(caption, body);
#else
    (void)caption;
    (void)body;
#endif
}

void SetStatusTexts(const std::wstring& boldLine, const std::wstring& progressLine)
{
#if TARVELO_HAVE_PROGRESS_DIALOG
    if (DependencyDialog* dialog = Dialog()) dialog->SetStatusTexts(boldLine, progressLine);
#else
    (void)boldLine;
    (void)progressLine;
#endif
}

}  // namespace ProgressLink
