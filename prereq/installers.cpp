#include "prereq/installers.h"

#include <windows.h>

#include "prereq/portable/installer_commands.h"
#include "support/process_start.h"
#include "support/win32_handle.h"

namespace {
DWORD g_waitSlice = 3000;
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

void RunDotNetInstaller(const std::wstring& folder, UniqueHandle checkedFile, void (*showPosition)(int))
{
    HANDLE process = nullptr, thread = nullptr;
    StartProcess(DotNetCommandLine(folder), &process, &thread);
    checkedFile.Reset();
    UniqueHandle processOwner(process), threadOwner(thread);

    // Without a process the first wait fails at once and the bar goes straight to 100.
    int position = 61;
    while (processOwner.Valid() && WaitForSingleObject(processOwner.Get(), g_waitSlice) == WAIT_TIMEOUT) {
        if (position <= 90) {
            showPosition(position);
            ++position;
        }
    }
    showPosition(100);
}
