#include "app/hand_over.h"

#include <memory>
#include <string>

#include "app/portable/stage2_command.h"
#include "app/progress_link.h"
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
    explicit ProgressThread(CHttpDownloader2* downloader)
        : m_thread(CreateThread(nullptr, 0, ProgressDialogThreadStart, downloader, 0, nullptr))
    {
    }

    // Ends the dialog. A download that failed at once may get here before the dialog thread
    // has published its dialog; the end request would then be lost and the dialog would stay,
    // so wait (bounded) for it first. Then give the thread a moment to leave its loop, so that
    // the window is gone before we wait for the second stage or end the process; once the
    // thread has ended, nothing uses the dialog any more and it is freed.
    void End()
    {
        if (m_thread) ProgressLink::Dialog();
        CloseProgressDialog();
        if (m_thread && WaitForSingleObject(m_thread.Get(), 5000) == WAIT_OBJECT_0) FreeProgressDialog();
    }

private:
    UniqueHandle m_thread;
};

// The download or an installation failed: tell the user what is left to do.
int ReportFailure(ProgressThread& progress)
{
    Log("Download Failed");
    if (AbortRequested.load()) {
        Log("Installation Aborted");
        return 0;
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
    Log("Before UI Thread Creation");
    auto downloader = std::make_unique<CHttpDownloader2>(dotNetMissing);
    ConnectEngineToDialogs();
    ProgressThread progress(downloader.get());
    Log("UI Thread Created Successfully..");

    // The kind is the number of entries; the plan's own size keeps the worker inside it.
    const int count = static_cast<int>(plan.size()) < static_cast<int>(kind) ? static_cast<int>(plan.size())
                                                                          : static_cast<int>(kind);
    const int downloaded = DownloadAndInstall(plan.data(), *downloader, count);
    // The run ends without its second stage: what it fetched only in part is of no use.
    if (!downloaded) DeleteUnfinishedDownloads(plan.data(), plan.size());
    std::vector<DownloadItem>().swap(plan);
    if (!downloaded) return ReportFailure(progress);

    Log("Launching Stage2");
    const std::wstring stage2Path = InstallerConfig::Stage2FileW;
    const std::wstring commandLine =
        BuildStage2CommandLine(stage2Path, LocalizedText::Instance(L"en-GB")->GetLanguage());
    HANDLE process = nullptr;
    HANDLE thread = nullptr;
    // The file stays as it was checked until the process started from it exists.
    if (!StartCheckedProgram(stage2Path, commandLine, downloader->checkedFiles.Take(stage2Path),
                             StartedProgram::SecondStage, &process, &thread)) {
        Log("Stage2 launch failed");
        return 0;
    }
    UniqueHandle stage2(process);
    UniqueHandle stage2Thread(thread);
    progress.End();
    InstallerLog::Close();
    // The first stage keeps its mutex until the second stage has ended, so that no new copy
    // starts meanwhile. A test hook may report a start without a process to wait for.
    if (stage2) WaitForSingleObject(stage2.Get(), INFINITE);
    if (mutex) ReleaseMutex(mutex);
    return 1;
}
