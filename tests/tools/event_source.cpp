// Stands in for the installer's progress dialog in the harness's own test of its record: a window
// whose bar and title announce each change to accessibility tools, as the installer's do.
//
//   event_source.exe COUNT RELEASE_FILE
//
// It first takes its messages for a while, as the installer's main thread does with its first
// dialog, then, from that same thread and without taking another, moves the bar through
// 1..COUNT (one EVENT_OBJECT_VALUECHANGE each) and retitles the window every 100 steps and once
// at the end (EVENT_OBJECT_NAMECHANGE), as fast as it can. Then it keeps the window, answering
// messages, until RELEASE_FILE exists (so that every value can still be read), and ends with 0.
#include <windows.h>
#include <commctrl.h>

#include <cstdlib>
#include <string>

#include "tests/tools/support/wait_limit.h"

namespace {

void PumpFor(DWORD milliseconds)
{
    const ULONGLONG end = GetTickCount64() + milliseconds;
    MSG message;
    do {
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    } while (GetTickCount64() < end);
}

void Retitle(HWND window, const std::wstring& title)
{
    SetWindowTextW(window, title.c_str());
    NotifyWinEvent(EVENT_OBJECT_NAMECHANGE, window, OBJID_CLIENT, CHILDID_SELF);
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 3) return 5;
    const int count = std::wcstol(argv[1], nullptr, 10);
    InitCommonControls();
    HWND window = CreateWindowExW(0, L"#32770", L"event source", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 300, 100,
                                  nullptr, nullptr, nullptr, nullptr);
    HWND bar = CreateWindowExW(0, PROGRESS_CLASSW, L"", WS_CHILD | WS_VISIBLE, 10, 10, 260, 20, window,
                               reinterpret_cast<HMENU>(1008), nullptr, nullptr);
    if (!window || !bar) return 3;
    SendMessageW(bar, PBM_SETRANGE32, 0, count);
    PumpFor(500);
    for (int position = 1; position <= count; ++position) {
        SendMessageW(bar, PBM_SETPOS, position, 0);
        NotifyWinEvent(EVENT_OBJECT_VALUECHANGE, bar, OBJID_CLIENT, CHILDID_SELF);
        if (position % 100 == 0) Retitle(window, L"step " + std::to_wstring(position));
    }
    Retitle(window, L"done");
    const ULONGLONG deadline = GetTickCount64() + e2e::WaitLimitMs();
    while (GetFileAttributesW(argv[2]) == INVALID_FILE_ATTRIBUTES && GetTickCount64() < deadline) PumpFor(20);
    DestroyWindow(window);
    return 0;
}
