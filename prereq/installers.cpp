#include "prereq/installers.h"

#include <windows.h>

#include "prereq/portable/installer_commands.h"
#include "support/clean_room.h"
#include "support/win32_handle.h"

namespace {
DWORD g_waitSlice = 3000;
}  // namespace

void SetDotNetWaitSliceForTesting(unsigned long milliseconds) { g_waitSlice = milliseconds; }

namespace {
// The ended process's exit code; kInstallerNotStarted without a process (a test hook may report
// a start without one, which counts as a clean end).
unsigned long ExitCodeOf(const UniqueHandle& process, bool started)
{
    if (!started) return kInstallerNotStarted;
    DWORD code = 0;
    if (process.Valid() && !GetExitCodeProcess(process.Get(), &code)) return kInstallerNotStarted;
    return code;
}
}  // namespace

unsigned long InstallWindowsInstaller(std::wstring path, UniqueHandle checkedFile)
{
    HANDLE process = nullptr, thread = nullptr;
    const bool started = StartCheckedProgram(path, WindowsInstallerCommandLine(path), std::move(checkedFile),
                                             StartedProgram::Prerequisite, &process, &thread);
    UniqueHandle processOwner(process), threadOwner(thread);
    if (processOwner.Valid()) WaitForSingleObject(processOwner.Get(), INFINITE);
    return ExitCodeOf(processOwner, started);
}

unsigned long RunDotNetInstaller(const std::wstring& folder, UniqueHandle checkedFile, void (*showPosition)(int))
{
    HANDLE process = nullptr, thread = nullptr;
    const bool started = StartCheckedProgram(DotNetPackagePath(folder), DotNetCommandLine(folder), std::move(checkedFile),
                                             StartedProgram::Prerequisite, &process, &thread);
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
    return ExitCodeOf(processOwner, started);
}
