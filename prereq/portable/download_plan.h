#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "support/portable/sha256.h"
#include "support/portable/signer_pins.h"

// What a package of the plan is, and so what is done with it once every file has arrived: the
// prerequisites are installed, the second stage is started by the hand-over.
enum class PackageRole { WindowsInstaller, DotNet, Stage2 };

// One package of the download plan: where it comes from, where it goes, what it is, and the
// download loop's bookkeeping for it.
struct DownloadItem {
    std::wstring localPath, url, folder;
    PackageRole role = PackageRole::Stage2;
    int32_t retryCount = 0, progressShare = 0, progressStep = 0;
    uint32_t reconnect = 1;
    uint32_t resumeOffset = 0;
    uint32_t furthestOffset = 0;  // the most of this file any attempt has had on disk
    // The digest the complete file must have, when the configuration names one, and how many
    // complete downloads of this file failed their checks (not a program, or not that digest).
    bool hasSha256 = false;
    Sha256::Digest sha256{};
    // The publishers whose signature the complete file must carry, when the configuration names
    // any (a failed signature counts among the failed checks).
    SignerPins signers;
    int32_t failedChecks = 0;
    // This run opened the file for writing, which cut whatever it held before; it is complete
    // and passed its checks. A run that ends without its second stage removes what it wrote and
    // did not complete.
    bool createdByThisRun = false;
    bool complete = false;
    // What a resume's If-Range carries: the validator of the answer the file's bytes began with
    // (empty: the server gave none, and resumes go without one).
    std::wstring validator;
    // The run looked for a download an earlier run left of this file; it continues one, whose
    // first answer must prove the continuation; a record beside the file lets the next run
    // continue this one.
    bool earlierLooked = false;
    bool continuingEarlier = false;
    bool keptForNextRun = false;
};

// The number of entries of a plan, which also says what is installed after the downloads.
enum PlanKind : int { PlanStage2Only = 1, PlanDotNet = 2, PlanMsiAndDotNet = 3 };

// The configured sources of the three packages: the paths as wide text, already below the
// start directory; the addresses as the configuration's 8-bit text.
struct PlanSources {
    std::wstring dotNetFolder, dotNetFile;
    std::string dotNetUrlHead, dotNetUrlTail;
    std::wstring stage2File;
    std::string stage2UrlHead, stage2UrlTail;
    std::wstring msiFile;
    std::string msiUrlHead, msiUrlTail;
    bool hasMsiSha256 = false, hasDotNetSha256 = false, hasStage2Sha256 = false;
    Sha256::Digest msiSha256{}, dotNetSha256{}, stage2Sha256{};
    SignerPins msiSigners, dotNetSigners, stage2Signers;
};

// The plan of a kind, in download order (Windows Installer, .NET, second stage), the last
// entry always the second stage. Addresses are head and tail joined with nothing between.
std::vector<DownloadItem> MakeDownloadPlan(PlanKind kind, const PlanSources& sources);

// Where the .NET package stands in a plan of a kind that has one: after the Windows Installer
// update when that leads, else first.
inline size_t DotNetEntry(PlanKind kind) { return kind == PlanMsiAndDotNet ? 1 : 0; }
