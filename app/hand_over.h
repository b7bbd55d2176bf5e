#pragma once
#include <windows.h>

#include <vector>

#include "prereq/portable/download_plan.h"

// The second half of the install sequence: the progress dialog on a thread of its own, the
// downloads and installations, then the second stage (waited for) or a notice about what went
// wrong. `mutex` is the single-instance mutex owned by this thread. Returns the exit code:
// 1 after the second stage has ended, 0 otherwise.
int RunDownloadAndHandOver(bool dotNetMissing, std::vector<DownloadItem> plan, PlanKind kind,
                           HANDLE mutex);

// The page that explains how to get the .NET Framework 2.0 by hand.
extern const wchar_t kDotNetDownloadPage[];
