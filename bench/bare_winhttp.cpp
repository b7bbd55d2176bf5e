// Reference download loop for the benchmarks: the least a WinHTTP client can do per chunk.
// Usage: bare_winhttp HOST PORT PATH OUTFILE BUFFER_BYTES
// It uses the default proxy settings, as the engine's first attempt does, so that both reach the
// server the same way.
#include <windows.h>
#include <winhttp.h>
#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

int wmain(int argc, wchar_t** argv)
{
    if (argc != 6) {
        std::fprintf(stderr, "usage: bare_winhttp HOST PORT PATH OUTFILE BUFFER_BYTES\n");
        return 2;
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
    while (ok) {
        DWORD got = 0;
        if (!WinHttpReadData(request, buffer.data(), chunk, &got)) { ok = false; break; }
        if (got == 0) break;
        DWORD written = 0;
        if (!WriteFile(file, buffer.data(), got, &written, nullptr) || written != got) { ok = false; break; }
        total += got;
    }
    QueryPerformanceCounter(&t1);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    if (request) WinHttpCloseHandle(request);
    if (connection) WinHttpCloseHandle(connection);
    if (session) WinHttpCloseHandle(session);
    const double seconds = double(t1.QuadPart - t0.QuadPart) / double(freq.QuadPart);
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof(counters);
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters));
    std::printf("bytes=%llu seconds=%.6f ok=%d peak_ws=%llu\n", total, seconds, ok ? 1 : 0,
                static_cast<unsigned long long>(counters.PeakWorkingSetSize));
    return ok ? 0 : 1;
}
