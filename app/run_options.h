#pragma once
#include "app/portable/unattended.h"

// The run's switches, read once at start; the install sequence and the hand-over read them.
// Until they are set (and after null), the attended run's.
const InstallerOptions& RunOptions();
// `options` must live as long as they are read: the entry's own, for the whole run.
void SetRunOptions(const InstallerOptions* options);

// One line "Exit code <code>: <reason>" in the log, for the deployment tool's reader, and the
// code. The reason names what failed and, where there is one, the code it failed with.
int EndUnattended(int code, const wchar_t* reason);
