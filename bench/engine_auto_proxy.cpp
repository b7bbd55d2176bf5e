// Times the installer's own proxy auto-configuration lookup of one script, as the download engine
// makes it once the direct attempt has failed: fetching the script, running it, and taking its
// answer back.
// Usage: engine_auto_proxy SCRIPT_URL [REPEATS]
// Prints: first_ms=.. lookup_ms=.. answer=..
// (first_ms is the first lookup of the process; lookup_ms the median of REPEATS after it,
// default 5).
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "download/auto_proxy_lookup.h"
#include "download/script_child.h"
#include "support/system_library.h"

namespace {
double Milliseconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double TimedLookup(const std::wstring& scriptUrl, AutoProxyAnswer* answer)
{
    LARGE_INTEGER t0, t1;
    QueryPerformanceCounter(&t0);
    *answer = LookUpAutoProxy(L"http://download.tarvelo.com/packages/stage2.exe", L"download.tarvelo.com", false,
                              scriptUrl, kAutoProxyLimitMs);
    QueryPerformanceCounter(&t1);
    return Milliseconds(t0, t1);
}
}  // namespace

int wmain(int argc, wchar_t** argv)
{
    RestrictDllSearch();
    // The lookup starts this program as the script's child, as the installer starts itself.
    ScriptChildPipes pipes;
    if (IsScriptChildStart(&pipes)) return RunScriptChild(pipes);
    if (argc < 2) {
        std::printf("usage: engine_auto_proxy SCRIPT_URL [REPEATS]\n");
        return 2;
    }
    const int repeats = argc > 2 ? std::max(1, _wtoi(argv[2])) : 5;
    AutoProxyAnswer answer;
    const double first = TimedLookup(argv[1], &answer);
    std::vector<double> times;
    for (int i = 0; i < repeats && answer.answered; ++i) times.push_back(TimedLookup(argv[1], &answer));
    if (!answer.answered) {
        std::printf("no answer\n");
        return 1;
    }
    std::sort(times.begin(), times.end());
    std::printf("first_ms=%.1f lookup_ms=%.1f answer=%ls\n", first, times[times.size() / 2], answer.text.c_str());
    return 0;
}
