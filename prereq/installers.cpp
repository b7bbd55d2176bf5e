#include "prereq/installers.h"

#include <windows.h>

#include "download/handles.h"
#include "support/win32_handle.h"
#include "download/progress_link.h"
#include "prereq/portable/installer_commands.h"
#include "support/localized_text.h"
#include "support/process_start.h"

namespace {
DWORD g_waitSlice = 3000;

std::wstring Text(const wchar_t* key) { return LocalizedText::Instance(L"en-GB")->GetText(key); }
}  // namespace

void SetDotNetWaitSliceForTesting(unsigned long milliseconds) { g_waitSlice = milliseconds; }

void InstallWindowsInstaller(std::wstring path, UniqueHandle checkedFile)
{
    HANDLE process = nullptr, thread = nullptr;
    const bool started = StartProcess(WindowsInstallerCommandLine(path), &process, &thread);
    checkedFile.Reset();
    if (!started) return;
    UniqueHandle processOwner(process), threadOwner(thread);
    if (processOwner.Valid()) WaitForSingleObject(processOwner.Get(), INFINITE);
}

void RunDotNetInstaller(const std::wstring& folder, UniqueHandle checkedFile)
{
    ProgressLink::SetHeaderTexts(Text(L"DIALOG_CAPTION"), Text(L"INSTALLING_DOTNET"));
    ProgressLink::SetStatusTexts(Text(L"INSTALLING_BOLD_TEXT"), Text(L"PROGRESS_BAR_INSTALLING_TEXT"));

    HANDLE process = nullptr, thread = nullptr;
    StartProcess(DotNetCommandLine(folder), &process, &thread);
    checkedFile.Reset();
    UniqueHandle processOwner(process), threadOwner(thread);

    // Without a process the first wait fails at once and the bar goes straight to 100.
    int position = 61;
    while (processOwner.Valid() && WaitForSingleObject(processOwner.Get(), g_waitSlice) == WAIT_TIMEOUT) {
        if (position <= 90) {
            ProgressLink::SetPos(position);
            ++position;
        }
    }
    ProgressLink::SetPos(100);
}
