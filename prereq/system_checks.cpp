#include "prereq/system_checks.h"

#include <windows.h>
#include <shlwapi.h>

#include "prereq/portable/version_rules.h"
#include "support/installer_config.h"
#include "support/installer_log.h"
#include "support/system_library.h"
#include "support/win32_handle.h"

bool IsOsSupported()
{
    OSVERSIONINFOEXW info{};
    info.dwOSVersionInfoSize = sizeof(OSVERSIONINFOEXW);
    if (!GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&info))) {
        // Systems that only know the basic record leave the service pack at 0.
        info = OSVERSIONINFOEXW{};
        info.dwOSVersionInfoSize = sizeof(OSVERSIONINFOW);
        if (!GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&info))) return false;
    }
    return IsWindowsVersionAccepted(InstallerConfig::SupportedOsVersions, info.dwMajorVersion,
                                    info.dwMinorVersion, info.wServicePackMajor);
}

bool IsDotNet20Installed()
{
    UniqueRegKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\NET Framework Setup\\NDP\\v2.0.50727",
                      0, KEY_READ, key.Put()) != ERROR_SUCCESS)
        return false;
    // The key's presence is what counts; a missing "SP" value is fine.
    BYTE servicePack[10] = {};
    DWORD size = sizeof(servicePack);
    const LONG result = RegQueryValueExW(key.Get(), L"SP", nullptr, nullptr, servicePack, &size);
    return result == ERROR_SUCCESS || result == ERROR_FILE_NOT_FOUND;
}

bool IsWindowsInstallerTooOld()
{
    // The library stays loaded for the rest of the run, so its handle is not kept.
    HMODULE msi = LoadSystemLibrary(L"msi.dll");
    if (!msi) return true;
    const auto getVersion =
        reinterpret_cast<DLLGETVERSIONPROC>(reinterpret_cast<void*>(GetProcAddress(msi, "DllGetVersion")));
    if (!getVersion) return true;
    DLLVERSIONINFO version{};
    version.cbSize = sizeof(DLLVERSIONINFO);
    if (FAILED(getVersion(&version))) return true;
    return IsWindowsInstallerVersionTooOld(version.dwMajorVersion, version.dwMinorVersion);
}

std::vector<DownloadItem> BuildDownloadPlan(bool withDotNet, PlanKind* kind)
{
    PlanKind chosen = PlanStage2Only;
    if (withDotNet) {
        if (IsWindowsInstallerTooOld()) {
            Log("WindowsInstaller not found..");
            chosen = PlanMsiAndDotNet;
        } else {
            chosen = PlanDotNet;
        }
    }
    using namespace InstallerConfig;
    const PlanSources sources{DotNetFolderW, DotNetFileW, DotNetUrlHead, DotNetUrlTail,
                              Stage2FileW,   Stage2UrlHead, Stage2UrlTail,
                              MsiFileW,      MsiUrlHead,    MsiUrlTail,
                              HasMsiSha256, HasDotNetSha256, HasStage2Sha256,
                              MsiSha256,    DotNetSha256,  Stage2Sha256,
                              MsiSigners,   DotNetSigners, Stage2Signers};
    std::vector<DownloadItem> plan = MakeDownloadPlan(chosen, sources);
    if (kind) *kind = chosen;
    return plan;
}
