#pragma once
#include <string>

#include "support/win32_handle.h"

// Silent installers of the prerequisites; each returns after its child process has ended.

// `checkedFile`, when given, is the handle that has kept the downloaded program from being changed
// since its check; it is closed once the process started from it exists (or could not start).

// Runs the Windows Installer redistributable at `path` with /quiet /norestart.
void InstallWindowsInstaller(std::wstring path, UniqueHandle checkedFile = UniqueHandle());

// Runs "<folder>\dotnetfx.exe" silently, while `showPosition` moves the bar from 61 towards 90
// every 3 s, then to 100 when it has ended (or could not start).
void RunDotNetInstaller(const std::wstring& folder, UniqueHandle checkedFile, void (*showPosition)(int position));

// Test seam: the length of one wait of the .NET progress (3000 ms by default).
void SetDotNetWaitSliceForTesting(unsigned long milliseconds);
