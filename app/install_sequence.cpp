#include "app/install_sequence.h"

#include <shlobj.h>

#include <vector>

#include "prereq/system_checks.h"
#include "support/installer_config.h"
#include "support/installer_log.h"

// Provisional: the checks and the plan without dialogs, logging what the full sequence logs,
// until the dialogs and the download exist.
int RunInstallSequence(HANDLE, OwnerWindow)
{
    InstallerLog* log = InstallerLog::Instance();
    auto write = [log](const char* line) {
        if (log) log->Write(line);
    };

    if (!IsOsSupported()) {
        write("OS not Supported");
        return 0;
    }
    std::vector<int>().swap(InstallerConfig::SupportedOsVersions);
    write("After Check_OS");

    if (!IsUserAnAdmin()) {
        write("User does not have admin rights...");
        return 0;
    }
    write("After IsUserAdmin");

    const bool dotNetMissing = !IsDotNet20Installed();
    if (dotNetMissing) write(".NET 2.0 not found");
    PlanKind kind = PlanStage2Only;
    const std::vector<DownloadItem> plan = BuildDownloadPlan(dotNetMissing, &kind);
    (void)plan;
    return 0;
}
