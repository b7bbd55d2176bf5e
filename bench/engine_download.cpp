// Downloads one file through the installer's own engine, with the progress dialog running on
// its own thread and the log on, and reports what the benchmark table needs.
// Usage: engine_download URL OUTFILE   (run from a folder holding the text table and skin)
#include <windows.h>
#include <psapi.h>

#include <cstdio>

#include "download/http_downloader.h"
#include "download/progress_link.h"
#include "download/shared_state.h"
#include "download/worker.h"
#include "support/installer_log.h"
#include "support/localized_text.h"

namespace {
int g_positions = 0;
void CountPosition(int) { ++g_positions; }
}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 3) return 2;
    InstallerLog::Instance();
    LocalizedText::Instance(L"en-GB");
    ProgressLink::SetPositionObserverForTesting(CountPosition);

    CHttpDownloader2 downloader(false);
    HANDLE thread = CreateThread(nullptr, 0, ProgressDialogThreadStart, &downloader, 0, nullptr);
    DownloadItem item;
    item.url = argv[1];
    item.localPath = argv[2];
    item.progressShare = 100;
    item.progressStep = 1;

    LARGE_INTEGER freq, t0, t1;
    QueryPerformanceFrequency(&freq);
    QueryPerformanceCounter(&t0);
    const int ok = downloader.DownloadFiles(&item, 1);
    QueryPerformanceCounter(&t1);

    CloseProgressDialog();
    if (thread) {
        WaitForSingleObject(thread, 10000);
        CloseHandle(thread);
    }
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof(counters);
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters));
    const double seconds = double(t1.QuadPart - t0.QuadPart) / double(freq.QuadPart);
    std::printf("bytes=%lu seconds=%.6f ok=%d peak_ws=%llu positions=%d\n",
                static_cast<unsigned long>(BytesOnDisk), seconds, ok,
                static_cast<unsigned long long>(counters.PeakWorkingSetSize), g_positions);
    return ok ? 0 : 1;
}
