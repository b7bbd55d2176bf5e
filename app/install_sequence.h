#pragma once
#include <windows.h>

#include "app/startup.h"

// Everything after start-up: the checks, the questions, the downloads and the hand-over to the
// second stage. `mutex` is the single-instance mutex, owned by this thread; `owner` owns the
// message dialogs. Returns the process exit code.
int RunInstallSequence(HANDLE mutex, OwnerWindow owner);

// The product site's page that lists what the machine needs; the leading space is part of it.
extern const wchar_t kSystemRequirementsTarget[];

// Test seam: the administrator decision, which Wine always answers yes. Null restores the
// shell's own IsUserAnAdmin.
void SetAdminCheckForTesting(bool (*isAdmin)());
