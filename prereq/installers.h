#pragma once
#include <string>

#include "support/win32_handle.h"

// Silent installers of the prerequisites; each returns after its child process has ended, with
// its exit code, or kInstallerNotStarted when none was started.
constexpr unsigned long kInstallerNotStarted = 0xFFFFFFFFUL;

// `checkedFile` is the handle that has kept the downloaded program from being changed since its
// check; it is closed once the process started from it exists. Without it, or when it is not the
// file at the path started, nothing is started (see StartCheckedProgram).

// Runs the Windows Installer redistributable at `path` with /quiet /norestart.
unsigned long InstallWindowsInstaller(std::wstring path, UniqueHandle checkedFile);

// Runs "<folder>\dotnetfx.exe" silently, while `showPosition` moves the bar from 61 towards 90
// every 3 s, then to 100 when it has ended (or could not start). The package downloaded under
// another name is not that program, and is not started.
unsigned long RunDotNetInstaller(const std::wstring& folder, UniqueHandle checkedFile, void (*showPosition)(int position));

// Test seam: the length of one wait of the .NET progress (3000 ms by default).
void SetDotNetWaitSliceForTesting(unsigned long milliseconds);
