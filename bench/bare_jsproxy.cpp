// Reference lookup for the benchmarks: a proxy auto-configuration script fetched with WinHTTP
// and run by jsproxy.dll inside this process, the way the installer ran scripts before they
// went to a restricted child process. Not safe for an installer; only the time is of interest.
// Usage: bare_jsproxy SCRIPT_URL [REPEATS]
// Prints: first_ms=.. lookup_ms=.. answer=.. (as engine_auto_proxy does)
#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {
struct ScriptBuffer {
    DWORD structSize;
    LPSTR script;
    DWORD scriptSize;
};
using Initialize = BOOL(WINAPI*)(DWORD, LPSTR, LPSTR, void*, ScriptBuffer*);
using Deinitialize = BOOL(WINAPI*)(LPSTR, DWORD);
using GetProxyInfo = BOOL(WINAPI*)(LPCSTR, DWORD, LPSTR, DWORD, LPSTR*, LPDWORD);

bool Fetch(const wchar_t* url, std::string* script)
{
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof(parts);
    parts.dwHostNameLength = parts.dwUrlPathLength = static_cast<DWORD>(-1);
    if (!WinHttpCrackUrl(url, 0, 0, &parts)) return false;
    const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    HINTERNET session = WinHttpOpen(L"Tarvelo", WINHTTP_ACCESS_TYPE_NO_PROXY, nullptr, nullptr, 0);
    HINTERNET connection = WinHttpConnect(session, host.c_str(), parts.nPort, 0);
    HINTERNET request = WinHttpOpenRequest(connection, nullptr, parts.lpszUrlPath, nullptr, nullptr, nullptr, 0);
    bool ok = WinHttpSendRequest(request, nullptr, 0, nullptr, 0, 0, 0) && WinHttpReceiveResponse(request, nullptr);
    char buffer[4096];
    for (DWORD got = 1; ok && got != 0;) {
        ok = WinHttpReadData(request, buffer, sizeof(buffer), &got) != FALSE;
        script->append(buffer, got);
    }
    WinHttpCloseHandle(request);
    WinHttpCloseHandle(connection);
    WinHttpCloseHandle(session);
    return ok;
}

double TimedLookup(const wchar_t* url, std::string* answer)
{
    LARGE_INTEGER t0, t1, frequency;
    QueryPerformanceCounter(&t0);
    HMODULE engine = LoadLibraryW(L"jsproxy.dll");
    auto initialize = reinterpret_cast<Initialize>(reinterpret_cast<void*>(GetProcAddress(engine, "InternetInitializeAutoProxyDll")));
    auto deinitialize = reinterpret_cast<Deinitialize>(reinterpret_cast<void*>(GetProcAddress(engine, "InternetDeInitializeAutoProxyDll")));
    auto getProxyInfo = reinterpret_cast<GetProxyInfo>(reinterpret_cast<void*>(GetProcAddress(engine, "InternetGetProxyInfo")));
    std::string script;
    answer->clear();
    if (initialize && deinitialize && getProxyInfo && Fetch(url, &script)) {
        ScriptBuffer buffer{sizeof(ScriptBuffer), &script[0], static_cast<DWORD>(script.size() + 1)};
        char lookupUrl[] = "http://download.tarvelo.com/packages/stage2.exe", host[] = "download.tarvelo.com";
        LPSTR result = nullptr;
        DWORD length = 0;
        if (initialize(0, nullptr, nullptr, nullptr, &buffer) &&
            getProxyInfo(lookupUrl, sizeof(lookupUrl) - 1, host, sizeof(host) - 1, &result, &length) && result) {
            answer->assign(result, strnlen(result, length));
            GlobalFree(result);
        }
        deinitialize(nullptr, 0);
    }
    QueryPerformanceCounter(&t1);
    QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(t1.QuadPart - t0.QuadPart) / static_cast<double>(frequency.QuadPart);
}
}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2) {
        std::printf("usage: bare_jsproxy SCRIPT_URL [REPEATS]\n");
        return 2;
    }
    const int repeats = argc > 2 ? std::max(1, _wtoi(argv[2])) : 5;
    std::string answer;
    const double first = TimedLookup(argv[1], &answer);
    std::vector<double> times;
    for (int i = 0; i < repeats && !answer.empty(); ++i) times.push_back(TimedLookup(argv[1], &answer));
    if (answer.empty()) {
        std::printf("no answer\n");
        return 1;
    }
    std::sort(times.begin(), times.end());
    std::printf("first_ms=%.1f lookup_ms=%.1f answer=%s\n", first, times[times.size() / 2], answer.c_str());
    return 0;
}
