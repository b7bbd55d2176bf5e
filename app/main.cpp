#include <windows.h>

#include "app/install_sequence.h"
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

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int)
{
    // Before any DLL is loaded by name: the exe's folder is the user's Downloads.
    RestrictDllSearch();
    // Started by the installer to run a proxy script: none of the installer's own start-up.
    ScriptChildPipes scriptChild;
    if (IsScriptChildStart(&scriptChild)) return RunScriptChild(scriptChild);
    ModuleInstance = instance;

    // One copy per logon session; a second one leaves without touching the first one's log.
    SetLastError(ERROR_SUCCESS);
    UniqueHandle mutex(CreateMutexW(nullptr, TRUE, kSingleInstanceMutex));
    if (!mutex || GetLastError() == ERROR_ALREADY_EXISTS) return 1;

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
