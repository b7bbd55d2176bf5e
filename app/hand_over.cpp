#include "app/hand_over.h"

#include <memory>
#include <string>

#include "app/portable/stage2_command.h"
#include "app/progress_link.h"
#include "app/run_options.h"
#include "app/worker.h"
#include "download/http_downloader.h"
#include "download/payload_check.h"
#include "prereq/system_checks.h"
#include "support/clean_room.h"
#include "support/installer_config.h"
#include "support/installer_log.h"
#include "support/localized_text.h"
#include "support/portable/narrow.h"
#include "support/shared_state.h"
#include "support/win32_handle.h"

#include "ui/controls/browser.h"
#include "ui/dialogs/smaller_dialog.h"

const wchar_t kDotNetDownloadPage[] =
    L"http://www.microsoft.com/downloads/details.aspx?FamilyID=0856eacb-4362-4b0d-8edd-aab15c5e04f5&displaylang=en";

namespace {

// A notice shown with the quit-confirmation dialog class, owned by nobody, in front of the
// progress dialog. Returns 1 for the first button.
INT_PTR ShowNotice(const wchar_t* headline, const wchar_t* body, const wchar_t* firstButton,
                   const wchar_t* secondButton)
{
    auto notice = std::make_unique<SmallerDialog>(TextOf(headline), TextOf(body), TextOf(firstButton),
                                                  secondButton ? TextOf(secondButton) : std::wstring(),
                                                  nullptr);
    return notice->DoModal();
}

// The progress dialog's thread, and ending it.
class ProgressThread {
public:
    // Without `show` (a quiet run) there is no thread and no dialog, and ending is nothing.
    ProgressThread(CHttpDownloader2* downloader, bool show)
        : m_thread(show ? CreateThread(nullptr, 0, ProgressDialogThreadStart, downloader, 0, nullptr) : nullptr),
          m_shown(show)
    {
    }

    // Ends the dialog. A download that failed at once may get here before the dialog thread
    // has published its dialog; the end request would then be lost and the dialog would stay,
    // so wait (bounded) for it first. Then give the thread a moment to leave its loop, so that
    // the window is gone before we wait for the second stage or end the process; once the
    // thread has ended, nothing uses the dialog any more and it is freed.
    void End()
    {
        if (!m_shown) return;
        if (m_thread) ProgressLink::Dialog();
        CloseProgressDialog();
        if (m_thread && WaitForSingleObject(m_thread.Get(), 5000) == WAIT_OBJECT_0) FreeProgressDialog();
    }

private:
    UniqueHandle m_thread;
    bool m_shown;
};

// The download or an installation failed: tell the user what is left to do; in an unattended
// run, nobody: the deployment tool learns it from the exit code.
int ReportFailure(ProgressThread& progress)
{
    Log("Download Failed");
    const bool unattended = RunOptions().Unattended();
    if (AbortRequested.load()) {
        Log("Installation Aborted");
        if (!unattended) return 0;
        progress.End();
        return EndUnattended(ExitCode::kUserQuit, L"the installation was quit in the progress dialog");
    }
    if (unattended) {
        progress.End();
        return EndUnattended(ExitCode::kInstallFailure, L"a download or its check failed");
    }
    if (IsDotNet20Installed()) {
        ShowNotice(L"PROXY_CAPTION", L"CONNECTION_FAILURE", L"OK_BUTTON", nullptr);
        progress.End();
        return 0;
    }
    Log("Tarvelo could not install dotnet..so taking user to Microsoft's website");
    if (ShowNotice(L"MANUALLY_DOWNLOAD_CAPTION", L"MANUALLY_DOWNLOAD_DOTNET", L"OK_BUTTON",
                   L"SKIP_BUTTON") != IDOK) {
        progress.End();
        return 0;
    }
    const std::wstring page = kDotNetDownloadPage;
    std::string pageA;
    NarrowLatin1(page, pageA);
    Log("launch IE to open " + pageA);
    if (OpenInBrowser(page)) {
        progress.End();
    } else {
        Log("Launch IE failed...");
    }
    return 0;
}

}  // namespace

int RunDownloadAndHandOver(bool dotNetMissing, std::vector<DownloadItem> plan, PlanKind kind,
                           HANDLE mutex)
{
    const InstallerOptions& options = RunOptions();
    const bool showProgress = options.mode != RunMode::Quiet;
    Log("Before UI Thread Creation");
    auto downloader = std::make_unique<CHttpDownloader2>(dotNetMissing);
    // Unattended, nobody is asked for a proxy or credentials: the sources that need no person are
    // tried, and where they all fail the download fails.
    ConnectEngineToDialogs(showProgress, !options.Unattended());
    ProgressThread progress(downloader.get(), showProgress);
    Log("UI Thread Created Successfully..");

    // The kind is the number of entries; the plan's own size keeps the worker inside it.
    const int count = static_cast<int>(plan.size()) < static_cast<int>(kind) ? static_cast<int>(plan.size())
                                                                          : static_cast<int>(kind);
    PrerequisiteOutcome prerequisites;
    const int downloaded =
        DownloadAndInstall(plan.data(), *downloader, count, options.Unattended() ? &prerequisites : nullptr);
    // The run ends without its second stage: what it fetched only in part is of no use.
    if (!downloaded) DeleteUnfinishedDownloads(plan.data(), plan.size());
    std::vector<DownloadItem>().swap(plan);
    if (!downloaded) return ReportFailure(progress);
    if (prerequisites.failed) {
        progress.End();
        return EndUnattended(ExitCode::kInstallFailure, L"a prerequisite failed, so the second stage was not started");
    }

    Log("Launching Stage2");
    const std::wstring stage2Path = InstallerConfig::Stage2FileW;
    const std::wstring commandLine = BuildStage2CommandLine(
        stage2Path, LocalizedText::Instance(L"en-GB")->GetLanguage(), options.stage2Arguments);
    HANDLE process = nullptr;
    HANDLE thread = nullptr;
    // The file stays as it was checked until the process started from it exists.
    if (!StartCheckedProgram(stage2Path, commandLine, downloader->checkedFiles.Take(stage2Path),
                             StartedProgram::SecondStage, &process, &thread)) {
        Log("Stage2 launch failed");
        if (!options.Unattended()) return 0;
        progress.End();
        return EndUnattended(ExitCode::kInstallFailure,
                             commandLine.size() > kMaxCommandLineChars
                                 ? L"the second stage's command line is longer than Windows takes"
                                 : L"the second stage could not be started");
    }
    UniqueHandle stage2(process);
    UniqueHandle stage2Thread(thread);
    progress.End();
    InstallerLog::Close();
    // The first stage keeps its mutex until the second stage has ended, so that no new copy
    // starts meanwhile. A test hook may report a start without a process to wait for.
    DWORD stage2Exit = 0;
    if (stage2 && (WaitForSingleObject(stage2.Get(), INFINITE) != WAIT_OBJECT_0 ||
                   !GetExitCodeProcess(stage2.Get(), &stage2Exit)))
        stage2Exit = ExitCode::kInstallFailure;
    if (mutex) ReleaseMutex(mutex);
    // A deployment tool gets the second stage's own answer; a person's run keeps its old one.
    return options.Unattended() ? Stage2ExitCode(stage2Exit, prerequisites.restartRequested) : 1;
}
