#include <windows.h>

#include "app/install_sequence.h"
#include "app/portable/unattended.h"
#include "app/run_options.h"
#include "app/startup.h"
#include "download/script_child.h"
#include "framework/app.h"
#include "support/clean_room.h"
#include "support/installer_config.h"
#include "support/installer_log.h"
#include "support/localized_text.h"
#include "support/system_library.h"
#include "support/win32_handle.h"

namespace {

const wchar_t kSingleInstanceMutex[] = L"TarveloFisrtStage2.0";

void ReportToStandardError(const char* text)
{
    const HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    if (error == nullptr || error == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(error, text, static_cast<DWORD>(lstrlenA(text)), &written, nullptr);
}

// The usage in a plain message box: it needs neither the configuration nor the skin.
void ShowUsage(UINT icon)
{
    MessageBoxW(nullptr, kInstallerUsage, L"Tarvelo Setup", MB_OK | icon);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int)
{
    // Before any DLL is loaded by name: the exe's folder is the user's Downloads.
    RestrictDllSearch();
    // Started by the installer to run a proxy script: none of the installer's own start-up.
    ScriptChildPipes scriptChild;
    if (IsScriptChildStart(&scriptChild)) return RunScriptChild(scriptChild);
    ModuleInstance = instance;

    const InstallerOptions options = ParseInstallerCommandLine(GetCommandLineW());
    if (options.showUsage && !options.commandLineWrong) {
        ShowUsage(MB_ICONINFORMATION);
        return ExitCode::kSuccess;
    }
    SetRunOptions(&options);
    if (!options.logPath.empty()) UseLogFileForRun(options.logPath);

    // One copy per logon session; a second one leaves without touching the first one's log.
    SetLastError(ERROR_SUCCESS);
    UniqueHandle mutex(CreateMutexW(nullptr, TRUE, kSingleInstanceMutex));
    if (!mutex || GetLastError() == ERROR_ALREADY_EXISTS)
        return options.commandLineWrong ? ExitCode::kBadCommandLine
                                        : options.Unattended() ? ExitCode::kAnotherInstallRuns : 1;
    if (options.commandLineWrong) {
        LogWide(L"Command line not understood at " + options.badSwitch);
        LogWide(kInstallerUsage);
        if (options.mode != RunMode::Quiet) ShowUsage(MB_ICONERROR);
        return EndUnattended(ExitCode::kBadCommandLine, L"the command line is wrong");
    }

    Log("Starting to read ConfigFile");
    ReadConfigFile();
    Log("ConfigFile Read successfully");

    // Every run starts without a proxy remembered by an earlier one.
    DeleteProxyFile(ProxyFilePath());
    LocalizedText::Instance(L"en-GB");

    AfxSetResourceHandle(ModuleInstance);
    if (!AfxWinInit(GetModuleHandleW(nullptr), nullptr, GetCommandLineW(), 0))
        ReportToStandardError("Fatal Error: MFC initialization failed\r\n");
    const OwnerWindow owner = AttachOwnerWindow();
    Log("Got ResourceInstanceHandle");

    return RunInstallSequence(mutex.Get(), owner);
}
