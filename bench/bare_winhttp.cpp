// Reference download loop for the benchmarks: the least a WinHTTP client can do per chunk.
// Usage: bare_winhttp HOST PORT PATH OUTFILE BUFFER_BYTES [--repaint-per-percent]
// It uses the default proxy settings, as the engine's first attempt does, so that both reach the
// server the same way.
// With --repaint-per-percent, a plain window on a second thread stands in for a progress bar: at
// each percent of the body the loop asks for an immediate repaint of it and waits for it, and the
// paint fills a rectangle and nothing more. That is the least any program pays for showing
// progress that way (the installer hands its positions to the dialog's thread instead).
#include <windows.h>
#include <winhttp.h>
#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <vector>

namespace {
LRESULT CALLBACK BarProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_ERASEBKGND) return 1;
    if (message == WM_PAINT) {
        PAINTSTRUCT paint;
        if (HDC dc = BeginPaint(window, &paint)) {
            FillRect(dc, &paint.rcPaint, static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH)));
            EndPaint(window, &paint);
        }
        return 0;
    }
    if (message == WM_CLOSE) { DestroyWindow(window); return 0; }
    if (message == WM_DESTROY && !GetParent(window)) PostQuitMessage(0);
    return DefWindowProcW(window, message, wParam, lParam);
}

struct Bar {
    HANDLE ready = nullptr;
    HWND frame = nullptr;
    HWND bar = nullptr;
};

DWORD WINAPI BarThread(void* param)
{
    Bar* b = static_cast<Bar*>(param);
    WNDCLASSW cls{};
    cls.lpfnWndProc = BarProc;
    cls.hInstance = GetModuleHandleW(nullptr);
    cls.lpszClassName = L"BenchBar";
    RegisterClassW(&cls);
    b->frame = CreateWindowExW(0, L"BenchBar", L"bench", WS_POPUP | WS_VISIBLE, 100, 100, 400, 60,
                               nullptr, nullptr, cls.hInstance, nullptr);
    b->bar = b->frame ? CreateWindowExW(0, L"BenchBar", L"", WS_CHILD | WS_VISIBLE, 13, 20, 374, 20,
                                        b->frame, nullptr, cls.hInstance, nullptr)
                      : nullptr;
    SetEvent(b->ready);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
    return 0;
}
}  // namespace

int wmain(int argc, wchar_t** argv)
{
    const bool repaint = argc == 7 && wcscmp(argv[6], L"--repaint-per-percent") == 0;
    if (argc != 6 && !repaint) {
        std::fprintf(stderr, "usage: bare_winhttp HOST PORT PATH OUTFILE BUFFER_BYTES [--repaint-per-percent]\n");
        return 2;
    }
    Bar bar;
    HANDLE barThread = nullptr;
    if (repaint) {
        bar.ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        barThread = CreateThread(nullptr, 0, BarThread, &bar, 0, nullptr);
        if (!barThread || WaitForSingleObject(bar.ready, 10000) != WAIT_OBJECT_0 || !bar.bar) return 1;
    }
    const INTERNET_PORT port = static_cast<INTERNET_PORT>(_wtoi(argv[2]));
    const DWORD chunk = static_cast<DWORD>(_wtoi(argv[5]));
    std::vector<char> buffer(chunk ? chunk : 1);

    LARGE_INTEGER freq, t0, t1;
    QueryPerformanceFrequency(&freq);
    QueryPerformanceCounter(&t0);

    HINTERNET session = WinHttpOpen(L"bench", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, nullptr, nullptr, 0);
    HINTERNET connection = session ? WinHttpConnect(session, argv[1], port, 0) : nullptr;
    HINTERNET request = connection ? WinHttpOpenRequest(connection, nullptr, argv[3], nullptr,
                                                        nullptr, nullptr, WINHTTP_FLAG_REFRESH)
                                   : nullptr;
    HANDLE file = CreateFileW(argv[4], GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    unsigned long long total = 0;
    bool ok = request && file != INVALID_HANDLE_VALUE &&
              WinHttpSendRequest(request, nullptr, 0, nullptr, 0, 0, 0) &&
              WinHttpReceiveResponse(request, nullptr);
    DWORD length = 0, lengthSize = sizeof(length);
    if (ok && repaint)
        WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_LENGTH | WINHTTP_QUERY_FLAG_NUMBER,
                            WINHTTP_HEADER_NAME_BY_INDEX, &length, &lengthSize, WINHTTP_NO_HEADER_INDEX);
    unsigned long long percent = 0;
    int repaints = 0;
    while (ok) {
        DWORD got = 0;
        if (!WinHttpReadData(request, buffer.data(), chunk, &got)) { ok = false; break; }
        if (got == 0) break;
        DWORD written = 0;
        if (!WriteFile(file, buffer.data(), got, &written, nullptr) || written != got) { ok = false; break; }
        total += got;
        if (length && total * 100 / length != percent) {
            percent = total * 100 / length;
            RedrawWindow(bar.bar, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
            ++repaints;
        }
    }
    QueryPerformanceCounter(&t1);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    if (request) WinHttpCloseHandle(request);
    if (connection) WinHttpCloseHandle(connection);
    if (session) WinHttpCloseHandle(session);
    if (barThread) {
        PostMessageW(bar.frame, WM_CLOSE, 0, 0);
        WaitForSingleObject(barThread, 10000);
        CloseHandle(barThread);
    }
    if (bar.ready) CloseHandle(bar.ready);
    const double seconds = double(t1.QuadPart - t0.QuadPart) / double(freq.QuadPart);
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof(counters);
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters));
    std::printf("bytes=%llu seconds=%.6f ok=%d peak_ws=%llu repaints=%d\n", total, seconds, ok ? 1 : 0,
                static_cast<unsigned long long>(counters.PeakWorkingSetSize), repaints);
    return ok ? 0 : 1;
}
