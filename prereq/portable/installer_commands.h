#pragma once
#include <string>

// Command lines of the silent prerequisite installers, built at their real length.

// "<path>" /quiet /norestart
std::wstring WindowsInstallerCommandLine(const std::wstring& path);

// <folder>\dotnetfx.exe, the program the .NET command line starts
std::wstring DotNetPackagePath(const std::wstring& folder);

// "<folder>\dotnetfx.exe" /q:a /c:"install.exe /q"
std::wstring DotNetCommandLine(const std::wstring& folder);
