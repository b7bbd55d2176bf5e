#include "app/run_options.h"

#include "support/installer_log.h"
#include "support/portable/decimal.h"

namespace {
const InstallerOptions kAttended;
const InstallerOptions* g_options = &kAttended;
}  // namespace

const InstallerOptions& RunOptions() { return *g_options; }
void SetRunOptions(const InstallerOptions* options) { g_options = options ? options : &kAttended; }

int EndUnattended(int code, const wchar_t* reason)
{
    LogWide(L"Exit code " + WideDecimal(code) + L": " + reason);
    return code;
}
