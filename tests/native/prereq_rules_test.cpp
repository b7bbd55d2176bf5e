#include <gtest/gtest.h>

#include <vector>

#include "prereq/portable/download_plan.h"
#include "prereq/portable/version_rules.h"

namespace {

TEST(WindowsVersionRule, ServicePackIsALowerBound)
{
    const std::vector<int> list{512};
    EXPECT_FALSE(IsWindowsVersionAccepted(list, 5, 1, 1));
    EXPECT_TRUE(IsWindowsVersionAccepted(list, 5, 1, 2));
    EXPECT_TRUE(IsWindowsVersionAccepted(list, 5, 1, 3));
    EXPECT_FALSE(IsWindowsVersionAccepted(list, 5, 2, 3));  // other minor
    EXPECT_FALSE(IsWindowsVersionAccepted(list, 6, 1, 3));  // other major
}

TEST(WindowsVersionRule, ZeroServicePackAcceptsEveryServicePack)
{
    EXPECT_TRUE(IsWindowsVersionAccepted({510}, 5, 1, 0));  // the basic record leaves it at 0
    EXPECT_TRUE(IsWindowsVersionAccepted({600}, 6, 0, 2));
    EXPECT_TRUE(IsWindowsVersionAccepted({1000}, 10, 0, 0));
    EXPECT_TRUE(IsWindowsVersionAccepted({400, 620, 611}, 6, 1, 1));  // any entry may accept
}

TEST(WindowsVersionRule, EmptyZeroAndNegativeEntriesAcceptNothing)
{
    EXPECT_FALSE(IsWindowsVersionAccepted({}, 6, 1, 1));
    EXPECT_FALSE(IsWindowsVersionAccepted({0}, 6, 1, 1));
    // -610 must not wrap into some large unsigned version, nor match 6.1.
    EXPECT_FALSE(IsWindowsVersionAccepted({-610, -1}, 6, 1, 1));
    EXPECT_FALSE(IsWindowsVersionAccepted({-610}, 0xFFFFFFFFul, 0xFFFFFFFFul, 0));
}

TEST(WindowsInstallerRule, MajorAndMinorAreComparedAsOnePair)
{
    EXPECT_TRUE(IsWindowsInstallerVersionTooOld(2, 0));
    EXPECT_TRUE(IsWindowsInstallerVersionTooOld(2, 9));
    EXPECT_TRUE(IsWindowsInstallerVersionTooOld(3, 0));
    EXPECT_FALSE(IsWindowsInstallerVersionTooOld(3, 1));
    EXPECT_FALSE(IsWindowsInstallerVersionTooOld(4, 0));
    EXPECT_FALSE(IsWindowsInstallerVersionTooOld(4, 5));
    EXPECT_FALSE(IsWindowsInstallerVersionTooOld(5, 0));
}

PlanSources Sources()
{
    PlanSources s;
    s.dotNetFolder = L"C:\\run\\DotNet";
    s.dotNetFile = L"C:\\run\\DotNet\\dotnetfx.exe";
    s.dotNetUrlHead = "http://download.tarvelo.com/prereq/";
    s.dotNetUrlTail = "dotnetfx.exe";
    s.stage2File = L"C:\\run\\Stage2.exe";
    s.stage2UrlHead = "download.tarvelo.com/";
    s.stage2UrlTail = "setup/Stage2.exe";
    s.msiFile = L"C:\\run\\msi.exe";
    s.msiUrlHead = "http://download.tarvelo.com/prereq/";
    s.msiUrlTail = "msi.exe";
    return s;
}

void ExpectFresh(const DownloadItem& item)
{
    EXPECT_EQ(item.retryCount, 0);
    EXPECT_EQ(item.reconnect, 1u);
    EXPECT_EQ(item.resumeOffset, 0u);
    EXPECT_EQ(item.progressShare * item.progressStep, 100);
}

std::vector<PackageRole> Roles(const std::vector<DownloadItem>& plan)
{
    std::vector<PackageRole> roles;
    for (const DownloadItem& item : plan) roles.push_back(item.role);
    return roles;
}

TEST(DownloadPlan, SecondStageOnlyFillsTheWholeBar)
{
    const auto plan = MakeDownloadPlan(PlanStage2Only, Sources());
    ASSERT_EQ(plan.size(), 1u);
    EXPECT_EQ(plan[0].localPath, L"C:\\run\\Stage2.exe");
    EXPECT_EQ(plan[0].url, L"download.tarvelo.com/setup/Stage2.exe");
    EXPECT_EQ(plan[0].folder, L"");
    EXPECT_EQ(plan[0].progressShare, 100);
    EXPECT_EQ(plan[0].progressStep, 1);
    ExpectFresh(plan[0]);
}

TEST(DownloadPlan, DotNetComesFirstWithItsFolder)
{
    const auto plan = MakeDownloadPlan(PlanDotNet, Sources());
    ASSERT_EQ(plan.size(), 2u);
    EXPECT_EQ(plan[0].localPath, L"C:\\run\\DotNet\\dotnetfx.exe");
    EXPECT_EQ(plan[0].url, L"http://download.tarvelo.com/prereq/dotnetfx.exe");
    EXPECT_EQ(plan[0].folder, L"C:\\run\\DotNet");
    EXPECT_EQ(plan[0].progressShare, 50);
    EXPECT_EQ(plan[0].progressStep, 2);
    EXPECT_EQ(plan[1].localPath, L"C:\\run\\Stage2.exe");
    EXPECT_EQ(plan[1].folder, L"");
    EXPECT_EQ(plan[1].progressShare, 10);
    EXPECT_EQ(plan[1].progressStep, 10);
    for (const auto& item : plan) ExpectFresh(item);
}

TEST(DownloadPlan, WindowsInstallerUpdateLeadsThePlanOfThree)
{
    const auto plan = MakeDownloadPlan(PlanMsiAndDotNet, Sources());
    ASSERT_EQ(plan.size(), 3u);
    EXPECT_EQ(plan[0].localPath, L"C:\\run\\msi.exe");
    EXPECT_EQ(plan[0].url, L"http://download.tarvelo.com/prereq/msi.exe");
    EXPECT_EQ(plan[0].folder, L"");
    EXPECT_EQ(plan[1].folder, L"C:\\run\\DotNet");
    EXPECT_EQ(plan[2].url, L"download.tarvelo.com/setup/Stage2.exe");
    const int shares[] = {5, 50, 5}, steps[] = {20, 2, 20};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(plan[i].progressShare, shares[i]) << i;
        EXPECT_EQ(plan[i].progressStep, steps[i]) << i;
        ExpectFresh(plan[i]);
    }
}

TEST(DownloadPlan, DotNetEntryIsTheOneWithTheDotNetFolder)
{
    // The install sequence creates the folder of this entry before anything is downloaded.
    for (PlanKind kind : {PlanDotNet, PlanMsiAndDotNet}) {
        const auto plan = MakeDownloadPlan(kind, Sources());
        ASSERT_LT(DotNetEntry(kind), plan.size()) << kind;
        EXPECT_EQ(plan[DotNetEntry(kind)].folder, L"C:\\run\\DotNet") << kind;
        EXPECT_EQ(plan[DotNetEntry(kind)].localPath, plan[DotNetEntry(kind)].folder + L"\\dotnetfx.exe") << kind;
    }
}

TEST(DownloadPlan, EachEntryCarriesItsRoleInInstallOrder)
{
    // The worker installs by role, in plan order: Windows Installer before the .NET that needs it.
    using R = PackageRole;
    EXPECT_EQ(Roles(MakeDownloadPlan(PlanStage2Only, Sources())), (std::vector<R>{R::Stage2}));
    EXPECT_EQ(Roles(MakeDownloadPlan(PlanDotNet, Sources())), (std::vector<R>{R::DotNet, R::Stage2}));
    EXPECT_EQ(Roles(MakeDownloadPlan(PlanMsiAndDotNet, Sources())),
              (std::vector<R>{R::WindowsInstaller, R::DotNet, R::Stage2}));
}

TEST(DownloadPlan, PathsBeyondEightBitsReachTheItemsUnchanged)
{
    // A Cyrillic and a Japanese user folder: no 8-bit step on the way may lose a character.
    PlanSources s = Sources();
    s.dotNetFolder = L"C:\\Users\\\x0418\x0432\x0430\x043D\\DotNet";
    s.dotNetFile = s.dotNetFolder + L"\\dotnetfx.exe";
    s.stage2File = L"C:\\Users\\\x5C71\x7530\\Stage2.exe";
    const auto plan = MakeDownloadPlan(PlanDotNet, s);
    EXPECT_EQ(plan[0].folder, s.dotNetFolder);
    EXPECT_EQ(plan[0].localPath, s.dotNetFile);
    EXPECT_EQ(plan[1].localPath, s.stage2File);
}

TEST(DownloadPlan, EachPackageCarriesItsOwnDigest)
{
    PlanSources s = Sources();
    s.hasMsiSha256 = true;
    s.msiSha256.fill(0x11);
    s.hasStage2Sha256 = true;
    s.stage2Sha256.fill(0x33);
    for (PlanKind kind : {PlanStage2Only, PlanDotNet, PlanMsiAndDotNet}) {
        const auto plan = MakeDownloadPlan(kind, s);
        const DownloadItem& stage2 = plan.back();
        EXPECT_TRUE(stage2.hasSha256) << kind;
        EXPECT_EQ(stage2.sha256[0], 0x33) << kind;
        EXPECT_EQ(stage2.failedChecks, 0);
        if (kind != PlanStage2Only) {
            EXPECT_FALSE(plan[plan.size() - 2].hasSha256) << kind;  // .NET has none
        }
        if (kind == PlanMsiAndDotNet) {
            EXPECT_EQ(plan[0].sha256[0], 0x11);
        }
    }
    EXPECT_FALSE(MakeDownloadPlan(PlanStage2Only, Sources())[0].hasSha256);
}

TEST(DownloadPlan, EachPackageCarriesItsOwnSigners)
{
    PlanSources s = Sources();
    s.msiSigners = SignerPins(1);
    s.msiSigners[0].fill(0x11);
    s.dotNetSigners = SignerPins(2);
    s.dotNetSigners[1].fill(0x22);
    s.stage2Signers = SignerPins(3);
    const auto plan = MakeDownloadPlan(PlanMsiAndDotNet, s);
    EXPECT_EQ(plan[0].signers, s.msiSigners);
    EXPECT_EQ(plan[1].signers, s.dotNetSigners);
    EXPECT_EQ(plan[2].signers, s.stage2Signers);
    EXPECT_EQ(MakeDownloadPlan(PlanDotNet, s)[0].signers, s.dotNetSigners);
    EXPECT_EQ(MakeDownloadPlan(PlanStage2Only, s)[0].signers, s.stage2Signers);
}

}  // namespace
