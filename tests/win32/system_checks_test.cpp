#include <windows.h>
#include <shlwapi.h>
#include <gtest/gtest.h>

#include <string>

#include "prereq/system_checks.h"
#include "support/installer_config.h"
#include "support/installer_log.h"
#include "support/scratch_folder.h"

namespace {

const wchar_t kDotNetKey[] = L"SOFTWARE\\Microsoft\\NET Framework Setup\\NDP\\v2.0.50727";

// Points this process's HKEY_LOCAL_MACHINE at a private key below HKEY_CURRENT_USER, so that the
// .NET key can be added and removed without touching the machine's registry.
class PrivateMachineKey : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_name = L"Software\\TarveloTests\\machine-" + std::to_wstring(GetCurrentProcessId());
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, m_name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, &m_root, nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(RegOverridePredefKey(HKEY_LOCAL_MACHINE, m_root), ERROR_SUCCESS);
    }
    void TearDown() override
    {
        RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
        if (m_root) RegCloseKey(m_root);
        RegDeleteTreeW(HKEY_CURRENT_USER, m_name.c_str());
    }

    void AddDotNetKey()
    {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExW(m_root, kDotNetKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                                  nullptr),
                  ERROR_SUCCESS);
        RegCloseKey(key);
    }
    void SetServicePack(DWORD type, const void* data, DWORD size)
    {
        HKEY key = nullptr;
        ASSERT_EQ(RegOpenKeyExW(m_root, kDotNetKey, 0, KEY_SET_VALUE, &key), ERROR_SUCCESS);
        EXPECT_EQ(RegSetValueExW(key, L"SP", 0, type, static_cast<const BYTE*>(data), size),
                  ERROR_SUCCESS);
        RegCloseKey(key);
    }

    std::wstring m_name;
    HKEY m_root = nullptr;
};

TEST_F(PrivateMachineKey, DotNetCountsAsInstalledWhenItsKeyExists)
{
    EXPECT_FALSE(IsDotNet20Installed());
    AddDotNetKey();
    EXPECT_TRUE(IsDotNet20Installed());  // no "SP" value at all
    const DWORD servicePack = 2;
    SetServicePack(REG_DWORD, &servicePack, sizeof(servicePack));
    EXPECT_TRUE(IsDotNet20Installed());
    SetServicePack(REG_SZ, L"1234", 10);  // exactly fills the 10-byte buffer
    EXPECT_TRUE(IsDotNet20Installed());
}

TEST_F(PrivateMachineKey, ServicePackValueTooLongForTheBufferCountsAsMissing)
{
    AddDotNetKey();
    const wchar_t text[] = L"Service Pack 2";
    SetServicePack(REG_SZ, text, sizeof(text));
    EXPECT_FALSE(IsDotNet20Installed());
}

TEST(WindowsVersion, ConfiguredListDecides)
{
    OSVERSIONINFOEXW info{};
    info.dwOSVersionInfoSize = sizeof(info);
    ASSERT_TRUE(GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&info)));
    ASSERT_LT(info.dwMinorVersion, 10u);
    ASSERT_LT(info.wServicePackMajor, 9u);
    const int running = static_cast<int>(info.dwMajorVersion * 100 + info.dwMinorVersion * 10 +
                                         info.wServicePackMajor);

    InstallerConfig::SupportedOsVersions = {running};
    EXPECT_TRUE(IsOsSupported());
    InstallerConfig::SupportedOsVersions = {running - static_cast<int>(info.wServicePackMajor)};
    EXPECT_TRUE(IsOsSupported());
    InstallerConfig::SupportedOsVersions = {running + 1};  // a newer service pack is required
    EXPECT_FALSE(IsOsSupported());
    InstallerConfig::SupportedOsVersions = {0};  // what an empty version field gives
    EXPECT_FALSE(IsOsSupported());
    InstallerConfig::SupportedOsVersions.clear();
    EXPECT_FALSE(IsOsSupported());
}

TEST(WindowsInstaller, SystemMsiOfThisPlatformIsRecentEnough)
{
    // Wine ships msi.dll 4.5, which a major/minor test taken one number at a time would
    // have called too old only for x.0 versions; 4.5 must pass either way.
    EXPECT_FALSE(IsWindowsInstallerTooOld());
}

TEST(DownloadPlanFromConfiguration, UsesTheConfiguredValuesAndLogsNothingWhenMsiIsRecent)
{
    TempFolder scratch(L"plan");
    ScopedEnvironmentVariable temp(L"TEMP", scratch.Path().c_str());
    InstallerLog::Instance()->Write("plan test");
    InstallerConfig::DotNetFolderW = L"C:\\run\\DotNet";
    InstallerConfig::DotNetFileW = L"C:\\run\\DotNet\\dotnetfx.exe";
    InstallerConfig::DotNetUrlHead = "http://download.tarvelo.com/";
    InstallerConfig::DotNetUrlTail = "dotnetfx.exe";
    InstallerConfig::Stage2FileW = L"C:\\run\\Stage2.exe";
    InstallerConfig::Stage2UrlHead = "http://download.tarvelo.com/";
    InstallerConfig::Stage2UrlTail = "Stage2.exe";

    PlanKind kind = PlanMsiAndDotNet;
    auto plan = BuildDownloadPlan(false, &kind);
    EXPECT_EQ(kind, PlanStage2Only);
    ASSERT_EQ(plan.size(), 1u);
    EXPECT_EQ(plan[0].localPath, L"C:\\run\\Stage2.exe");
    EXPECT_EQ(plan[0].url, L"http://download.tarvelo.com/Stage2.exe");

    plan = BuildDownloadPlan(true, &kind);
    EXPECT_EQ(kind, PlanDotNet);
    ASSERT_EQ(plan.size(), 2u);
    EXPECT_EQ(plan[0].folder, L"C:\\run\\DotNet");
    EXPECT_EQ(plan[0].url, L"http://download.tarvelo.com/dotnetfx.exe");

    InstallerLog::Close();
    std::string content;
    ASSERT_TRUE(ReadWholeFile(scratch / L"Tarvelo\\Logs\\InstallerLogs\\Stage1Logs.txt", content));
    EXPECT_EQ(content, "plan test\r\n");
}

}  // namespace
