#pragma once
#include <vector>

#include "prereq/portable/download_plan.h"

// Read-only questions about the machine, asked before anything is downloaded.
// (The administrator test is the shell's own IsUserAnAdmin from <shlobj.h>.)
bool IsOsSupported();
bool IsDotNet20Installed();
bool IsWindowsInstallerTooOld();  // missing, unreadable or older than 3.1

// The packages to fetch: the second stage only, or .NET and the second stage, with the Windows
// Installer update in front when Windows Installer is too old. The kind is stored in *kind.
std::vector<DownloadItem> BuildDownloadPlan(bool withDotNet, PlanKind* kind);
