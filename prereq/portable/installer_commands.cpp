#include "prereq/portable/installer_commands.h"

std::wstring WindowsInstallerCommandLine(const std::wstring& path)
{
    return L"\"" + path + L"\" /quiet /norestart";
}

std::wstring DotNetCommandLine(const std::wstring& folder)
{
    return L"\"" + folder + L"\\dotnetfx.exe\" /q:a /c:\"install.exe /q\"";
}
