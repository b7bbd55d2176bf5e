#include "prereq/portable/download_plan.h"

#include "support/portable/narrow.h"

namespace {

DownloadItem Item(PackageRole role, const std::wstring& path, const std::string& head,
                  const std::string& tail, int32_t share, int32_t step, bool hasDigest, const Sha256::Digest& digest,
                  const SignerPins& signers)
{
    DownloadItem item;
    item.role = role;
    item.hasSha256 = hasDigest;
    item.sha256 = digest;
    item.signers = signers;
    item.localPath = path;
    item.url = WidenLatin1(head + tail);
    item.progressShare = share;
    item.progressStep = step;
    return item;
}

}  // namespace

std::vector<DownloadItem> MakeDownloadPlan(PlanKind kind, const PlanSources& s)
{
    std::vector<DownloadItem> plan;
    // Points of the bar times percent per point is 100 for each package. With a prerequisite
    // the downloads fill 60 points; its installation fills the rest.
    if (kind == PlanMsiAndDotNet)
        plan.push_back(Item(PackageRole::WindowsInstaller, s.msiFile, s.msiUrlHead, s.msiUrlTail, 5, 20,
                            s.hasMsiSha256, s.msiSha256, s.msiSigners));
    if (kind == PlanMsiAndDotNet || kind == PlanDotNet) {
        DownloadItem dotNet = Item(PackageRole::DotNet, s.dotNetFile, s.dotNetUrlHead, s.dotNetUrlTail, 50, 2,
                                   s.hasDotNetSha256, s.dotNetSha256, s.dotNetSigners);
        dotNet.folder = s.dotNetFolder;
        plan.push_back(dotNet);
    }
    const auto stage2 = [&](int32_t share, int32_t step) {
        return Item(PackageRole::Stage2, s.stage2File, s.stage2UrlHead, s.stage2UrlTail, share, step,
                    s.hasStage2Sha256, s.stage2Sha256, s.stage2Signers);
    };
    if (kind == PlanMsiAndDotNet)
        plan.push_back(stage2(5, 20));
    else if (kind == PlanDotNet)
        plan.push_back(stage2(10, 10));
    else
        plan.push_back(stage2(100, 1));
    return plan;
}
