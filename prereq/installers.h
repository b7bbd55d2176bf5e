#pragma once
#include <string>

// Silent installers of the prerequisites; each returns after its child process has ended.

// Runs the Windows Installer redistributable at `path` with /quiet /norestart.
void InstallWindowsInstaller(std::wstring path);

// Runs "<folder>\dotnetfx.exe" silently with the installing texts on the progress dialog and the
// bar moving from 61 towards 90 every 3 s, then 100 when it has ended (or could not start).
void RunDotNetInstaller(const std::wstring& folder);

// Test seam: the length of one wait of the .NET progress (3000 ms by default).
void SetDotNetWaitSliceForTesting(unsigned long milliseconds);
