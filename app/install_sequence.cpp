#include "app/install_sequence.h"

#include <shlobj.h>

#include <memory>
#include <string>
#include <vector>

#include "app/hand_over.h"
#include "app/run_options.h"
#include "framework/wnd.h"
#include "prereq/system_checks.h"
#include "support/installer_config.h"
#include "support/installer_log.h"
#include "support/localized_text.h"

#include "ui/dialogs/message_dialog.h"

const wchar_t kSystemRequirementsTarget[] = L" http://www.tarvelo.com/r/1.3/download";

namespace {

bool (*g_isAdmin)() = nullptr;

bool UserIsAdmin() { return g_isAdmin ? g_isAdmin() : IsUserAnAdmin() != FALSE; }

// One message dialog with the installer's caption and a single button; the result as DoModal
// gives it (2: the user closed it and confirmed quitting).
INT_PTR ShowMessage(CWnd* owner, const wchar_t* headline, const wchar_t* body, const wchar_t* button,
                    const wchar_t* linkText = nullptr, const wchar_t* linkTarget = nullptr)
{
    auto dialog = std::make_unique<MessageDialog>(TextOf(L"DIALOG_CAPTION"), TextOf(headline), TextOf(body),
                                                  TextOf(button), std::wstring(), owner);
    if (linkText) dialog->SetLink(TextOf(linkText), linkTarget);
    return dialog->DoModal();
}

}  // namespace

void SetAdminCheckForTesting(bool (*isAdmin)()) { g_isAdmin = isAdmin; }

int RunInstallSequence(HANDLE mutex, OwnerWindow owner)
{
    // Unattended, nobody reads a message: the deployment tool reads the exit code and the log.
    const bool unattended = RunOptions().Unattended();
    if (!IsOsSupported()) {
        Log("OS not Supported");
        if (unattended)
            return EndUnattended(ExitCode::kPlatformNotSupported, L"this Windows version is not in the supported list");
        ShowMessage(owner, L"CANNOT_INSTALL", L"SYSTEM_CONFIG", L"OK_BUTTON", L"SYSTEM_REQUIREMENTS",
                    kSystemRequirementsTarget);
        return 0;
    }
    std::vector<int>().swap(InstallerConfig::SupportedOsVersions);
    Log("After Check_OS");

    if (!UserIsAdmin()) {
        Log("User does not have admin rights...");
        if (unattended) return EndUnattended(ExitCode::kInstallFailure, L"the installer has no administrator rights");
        ShowMessage(owner, L"CANNOT_INSTALL", L"USER_NOT_ADMIN", L"OK_BUTTON");
        return 0;
    }
    Log("After IsUserAdmin");

    bool dotNetMissing = false;
    PlanKind kind = PlanStage2Only;
    std::vector<DownloadItem> plan;
    if (IsDotNet20Installed()) {
        plan = BuildDownloadPlan(false, &kind);
    } else {
        Log(".NET 2.0 not found");
        // An unattended run installs it, as the person would who agrees.
        if (unattended)
            Log(".NET 2.0 will be installed: unattended run");
        else if (ShowMessage(owner, L"DOTNET_REQUIRED", L"DOTNET_NOTFOUND", L"YES_BUTTON") == IDCANCEL)
            return 0;
        dotNetMissing = true;
        plan = BuildDownloadPlan(true, &kind);
        // The package is saved into this folder and run from it.
        const size_t dotNetEntry = DotNetEntry(kind);
        if (plan.size() > dotNetEntry) CreateDirectoryW(plan[dotNetEntry].folder.c_str(), nullptr);
    }
    return RunDownloadAndHandOver(dotNetMissing, std::move(plan), kind, mutex);
}
