#include "download/worker.h"

#include "download/progress_link.h"
#include "prereq/installers.h"
#include "support/installer_log.h"
#include "support/localized_text.h"

#include "ui/dialogs/dependency_dialog.h"

namespace {
void Log(const char* line) { InstallerLog::Instance()->Write(line); }
std::wstring Text(const wchar_t* key) { return LocalizedText::Instance(L"en-GB")->GetText(key); }
}  // namespace

DWORD RunProgressDialogThread(CHttpDownloader2* downloader)
{
    Log("Creating Dependency Dialog in a new thread...");
    const bool dotNetMissing = downloader && downloader->dotNetMissing;
    const std::wstring caption = Text(L"DIALOG_CAPTION");
    const std::wstring body = dotNetMissing ? Text(L"DOWNLOADING_DOTNET") : std::wstring();
    // The desktop stands in as the parent; it lives as long as the process, like the dialog,
    // which the download thread may still be calling when this loop has ended.
    static CWnd desktop;
    if (!desktop.GetSafeHwnd()) desktop.Attach(GetDesktopWindow());
    DependencyDialog* dialog = new DependencyDialog(caption, body, dotNetMissing ? TRUE : FALSE, &desktop);
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

int DownloadAndInstall(DownloadItem* items, CHttpDownloader2& downloader, int count)
{
    const int result = downloader.DownloadFiles(items, count);
    if (result == 0) return 0;
    Log("All files successfully downloaded..starting to install files...");
    ProgressLink::HideButton(TRUE, TRUE);
    if (count == 3) {
        InstallWindowsInstaller(items[0].localPath, downloader.checkedFiles.Take(items[0].localPath));
        downloader.InstallDotNet(items[1].folder);
    } else if (count == 2) {
        downloader.InstallDotNet(items[0].folder);
    }
    return result;
}

void CloseProgressDialog()
{
    if (DependencyDialog* dialog = ProgressDialog.exchange(nullptr)) dialog->RequestEnd();
}
