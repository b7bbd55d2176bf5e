#include "prereq/portable/installer_commands.h"

std::wstring WindowsInstallerCommandLine(const std::wstring& path)
{
    return L"\"" + path + L"\" /quiet /norestart";
}

std::wstring DotNetPackagePath(const std::wstring& folder) { return folder + L"\\dotnetfx.exe"; }

std::wstring DotNetCommandLine(const std::wstring& folder)
{
    return L"\"" + DotNetPackagePath(folder) + L"\" /q:a /c:\"install.exe /q\"";
}
