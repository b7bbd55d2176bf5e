#include "app/worker.h"

#include <string>

#include "app/portable/unattended.h"
#include "support/portable/decimal.h"

#include "app/progress_link.h"
#include "app/proxy_prompts.h"
#include "download/engine_ui.h"
#include "prereq/installers.h"
#include "support/clean_room.h"
#include "support/installer_log.h"
#include "support/localized_text.h"
#include "support/shared_state.h"

#include "ui/dialogs/dependency_dialog.h"

namespace {
// The dialog the thread showed, kept for FreeProgressDialog. A plain pointer: a run that ends
// with the dialog still open (an abort) must not have it destroyed under its thread at exit.
DependencyDialog* g_shownDialog = nullptr;

// An unattended run has nobody to ask: each question is answered as a dialog that could not be
// shown, and the log says why the download then fails.
class UnattendedPrompts final : public ProxyPrompts {
public:
    INT_PTR AskForProxy(bool, std::wstring*, std::wstring*) override
    {
        Log("No proxy source answered, and an unattended run asks nobody for one");
        return -1;
    }
    bool AskForProxyCredentials(bool, std::wstring*, std::wstring*, INT_PTR* modalResult) override
    {
        Log("The proxy asks for credentials (407), and an unattended run asks nobody for them");
        *modalResult = -1;
        return false;
    }
};
UnattendedPrompts g_unattendedPrompts;
}  // namespace

void ConnectEngineToDialogs(bool progress, bool prompts)
{
    ConnectProgressReport(progress ? ProgressLink::Report() : nullptr);
    ConnectProxyPrompts(prompts ? DialogPrompts() : &g_unattendedPrompts);
}

DWORD RunProgressDialogThread(CHttpDownloader2* downloader)
{
    Log("Creating Dependency Dialog in a new thread...");
    const bool dotNetMissing = downloader && downloader->dotNetMissing;
    const std::wstring caption = TextOf(L"DIALOG_CAPTION");
    const std::wstring body = dotNetMissing ? TextOf(L"DOWNLOADING_DOTNET") : std::wstring();
    // The desktop stands in as the parent; it lives as long as the process, like the owner
    // windows of start-up.
    static CWnd desktop;
    if (!desktop.GetSafeHwnd()) desktop.Attach(GetDesktopWindow());
    DependencyDialog* dialog = new DependencyDialog(caption, body, dotNetMissing ? TRUE : FALSE, &desktop);
    g_shownDialog = dialog;
    dialog->m_progress.m_nLower = 0;
    dialog->m_progress.m_nUpper = 100;
    ProgressDialog.store(dialog);
    Log("DependencyDialog Contructor passed...");
    if (dialog->DoModal() == -1) Log("Dependency dialog Couldnot be created...");
    return 0;
}

DWORD WINAPI ProgressDialogThreadStart(LPVOID downloader)
{
    try {
        return RunProgressDialogThread(static_cast<CHttpDownloader2*>(downloader));
    } catch (...) {
        return 0;
    }
}

namespace {
// Reads one installer's exit code into `outcome`; false when it failed.
bool Judge(const wchar_t* name, unsigned long code, PrerequisiteOutcome* outcome)
{
    if (!outcome) return true;
    const PrerequisiteResult result = ClassifyPrerequisiteExit(code);
    LogWide(name + (code == kInstallerNotStarted ? std::wstring(L" could not be started")
                                                  : L" ended with " + WideDecimal(static_cast<long long>(code))));
    if (result == PrerequisiteResult::InstalledRestartNeeded) outcome->restartRequested = true;
    if (result != PrerequisiteResult::Failed) return true;
    outcome->failed = true;
    return false;
}
}  // namespace

int DownloadAndInstall(DownloadItem* items, CHttpDownloader2& downloader, int count, PrerequisiteOutcome* outcome)
{
    const int result = downloader.DownloadFiles(items, count);
    if (result == 0) return 0;
    Log("All files successfully downloaded..starting to install files...");
    Progress().HideButton(TRUE, TRUE);
    // The plan lists the Windows Installer update before .NET, which needs it.
    bool going = true;
    for (int i = 0; i < count && going; ++i) {
        const DownloadItem& item = items[i];
        if (item.role == PackageRole::WindowsInstaller)
            going = Judge(L"Windows Installer update",
                          InstallWindowsInstaller(item.localPath, downloader.checkedFiles.Take(item.localPath)),
                          outcome);
        else if (item.role == PackageRole::DotNet)
            going = Judge(L".NET installer", downloader.InstallDotNet(item.folder), outcome);
    }
    // What they unpacked for themselves is of no use once they have ended.
    RemovePrerequisiteTemp();
    return result;
}

void CloseProgressDialog()
{
    if (DependencyDialog* dialog = ProgressDialog.exchange(nullptr)) dialog->RequestEnd();
}

void FreeProgressDialog()
{
    // The downloader's destructor clears the pointer too; a dialog being freed must not stay
    // published in the meantime.
    DependencyDialog* expected = g_shownDialog;
    ProgressDialog.compare_exchange_strong(expected, nullptr);
    delete g_shownDialog;
    g_shownDialog = nullptr;
}
