// Downloads one file through the installer's own engine as a release run does (this program
// carries inputs, so the engine keeps an unfinished download with its record), without a dialog.
// Usage: engine_continue URL OUTFILE [END_AT]
// With END_AT the process ends itself abruptly, as a killed one would, once END_AT bytes are on
// disk; run again without it, it continues from there. Prints what it fetched.
#include <windows.h>

#include <cstdio>
#include <cwchar>

#include "app/progress_link.h"
#include "app/worker.h"
#include "download/http_downloader.h"
#include "download/shared_state.h"
#include "support/installer_log.h"

namespace {
uint32_t g_endAt = 0;

DWORD WINAPI EndAbruptly(void*)
{
    while (BytesOnDisk < g_endAt) Sleep(1);
    TerminateProcess(GetCurrentProcess(), 3);
    return 0;
}
}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 3 || argc > 4) return 2;
    InstallerLog::Instance();
    ProgressLink::SetWaitLimitForTesting(0);
    ConnectEngineToDialogs();
    if (argc == 4) {
        g_endAt = static_cast<uint32_t>(std::wcstoul(argv[3], nullptr, 10));
        if (HANDLE watcher = CreateThread(nullptr, 0, EndAbruptly, nullptr, 0, nullptr)) CloseHandle(watcher);
    }
    CHttpDownloader2 downloader(false);
    DownloadItem item;
    item.url = argv[1];
    item.localPath = argv[2];
    const int ok = downloader.DownloadFiles(&item, 1);
    std::printf("bytes=%lu ok=%d\n", static_cast<unsigned long>(BytesOnDisk), ok);
    return ok ? 0 : 1;
}
