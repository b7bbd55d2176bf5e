// Downloads one file through the installer's own engine, with the progress dialog running on
// its own thread and the log on, and reports what the benchmark table needs.
// Usage: engine_download URL OUTFILE [MODE]   (run from a folder holding the text table and skin).
// The modes take the dialog's costs apart:
//   --no-dialog              no progress dialog at all;
//   --dialog-first           the clock starts once the dialog is up, so its start-up is left out;
//   --dialog-first-no-bar    as --dialog-first, and the download sets no bar positions, which
//                            leaves out handing them over and the bar's repaints on the
//                            dialog's thread as well.
#include <windows.h>
#include <commctrl.h>
#include <psapi.h>

#include <atomic>
#include <cstdio>
#include <cwchar>

#include "app/progress_link.h"
#include "app/worker.h"
#include "download/http_downloader.h"
#include "download/shared_state.h"
#include "support/installer_log.h"
#include "support/localized_text.h"
#include "ui/dialogs/dependency_dialog.h"

namespace {
int g_positions = 0;
void CountPosition(int) { ++g_positions; }

// Real repaints of the bar, counted in its own window procedure: hooks on the dialog's thread
// notice the bar's first paint and subclass it there (a subclass must be set by the thread that
// owns the window, and after the control's own, or that one answers WM_PAINT first).
// A paint whose update region is empty has nothing to redraw (the bar skips it), so those with
// something to draw are counted apart.
std::atomic<int> g_paints{0};
std::atomic<int> g_redraws{0};
std::atomic<HWND> g_bar{nullptr};
std::atomic<long long> g_paintTicks{0};  // time inside the bar's own paint handler

LRESULT CALLBACK CountingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR)
{
    if (message != WM_PAINT) return DefSubclassProc(window, message, wParam, lParam);
    ++g_paints;
    RECT update{};
    if (GetUpdateRect(window, &update, FALSE)) ++g_redraws;
    LARGE_INTEGER t0, t1;
    QueryPerformanceCounter(&t0);
    const LRESULT result = DefSubclassProc(window, message, wParam, lParam);
    QueryPerformanceCounter(&t1);
    g_paintTicks += t1.QuadPart - t0.QuadPart;
    return result;
}

void Notice(HWND window, UINT message)
{
    if (message != WM_PAINT || window == nullptr || g_bar.load() != nullptr) return;
    wchar_t name[64] = {};
    if (!GetClassNameW(window, name, 64) || wcscmp(name, PROGRESS_CLASSW) != 0) return;
    if (SetWindowSubclass(window, CountingProc, 1, 0)) g_bar = window;  // sees this paint too
}

LRESULT CALLBACK SentHook(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HC_ACTION) {
        const CWPSTRUCT* sent = reinterpret_cast<const CWPSTRUCT*>(lParam);
        Notice(sent->hwnd, sent->message);
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

LRESULT CALLBACK PostedHook(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HC_ACTION && wParam == PM_REMOVE) {
        const MSG* posted = reinterpret_cast<const MSG*>(lParam);
        Notice(posted->hwnd, posted->message);
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}
}  // namespace

int wmain(int argc, wchar_t** argv)
{
    const wchar_t* mode = argc == 4 ? argv[3] : L"";
    const bool dialog = wcscmp(mode, L"--no-dialog") != 0;
    const bool dialogFirst = wcscmp(mode, L"--dialog-first") == 0 || wcscmp(mode, L"--dialog-first-no-bar") == 0;
    const bool bar = wcscmp(mode, L"--dialog-first-no-bar") != 0;
    if (argc < 3 || argc > 4 || (argc == 4 && dialog && !dialogFirst)) return 2;
    InstallerLog::Instance();
    LocalizedText::Instance(L"en-GB");
    ProgressLink::SetPositionObserverForTesting(CountPosition);
    ConnectEngineToDialogs();

    CHttpDownloader2 downloader(false);
    HANDLE thread = nullptr;
    HHOOK sent = nullptr, posted = nullptr;
    if (!dialog) {
        ProgressLink::SetWaitLimitForTesting(0);  // no dialog is coming: do not wait for one
    } else {
        DWORD id = 0;
        thread = CreateThread(nullptr, 0, ProgressDialogThreadStart, &downloader, CREATE_SUSPENDED, &id);
        if (thread) {
            sent = SetWindowsHookExW(WH_CALLWNDPROC, SentHook, nullptr, id);
            posted = SetWindowsHookExW(WH_GETMESSAGE, PostedHook, nullptr, id);
            ResumeThread(thread);
        }
    }
    DownloadItem item;
    item.url = argv[1];
    item.localPath = argv[2];
    item.progressShare = bar ? 100 : 0;
    item.progressStep = 1;
    if (dialogFirst) {
        const ULONGLONG end = GetTickCount64() + 10000;
        while (GetTickCount64() < end && !(ProgressDialog.load() && IsWindow(ProgressDialog.load()->GetSafeHwnd())))
            Sleep(1);
    }

    LARGE_INTEGER freq, t0, t1;
    QueryPerformanceFrequency(&freq);
    QueryPerformanceCounter(&t0);
    const int ok = downloader.DownloadFiles(&item, 1);
    QueryPerformanceCounter(&t1);

    int barWidth = 0;
    if (HWND bar = g_bar.load()) {
        RECT client{};
        if (GetClientRect(bar, &client)) barWidth = client.right - client.left;
    }
    const int paints = g_paints.load();
    if (dialog) CloseProgressDialog();
    if (thread) {
        WaitForSingleObject(thread, 10000);
        CloseHandle(thread);
    }
    if (sent) UnhookWindowsHookEx(sent);
    if (posted) UnhookWindowsHookEx(posted);
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof(counters);
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters));
    const double seconds = double(t1.QuadPart - t0.QuadPart) / double(freq.QuadPart);
    const double paintSeconds = double(g_paintTicks.load()) / double(freq.QuadPart);
    std::printf("bytes=%lu seconds=%.6f ok=%d peak_ws=%llu positions=%d paints=%d redraws=%d bar_px=%d paint_s=%.6f\n",
                static_cast<unsigned long>(BytesOnDisk), seconds, ok,
                static_cast<unsigned long long>(counters.PeakWorkingSetSize), g_positions, paints,
                g_redraws.load(), barWidth, paintSeconds);
    return ok ? 0 : 1;
}
