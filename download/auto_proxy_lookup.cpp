#include "download/auto_proxy_lookup.h"

#include <winhttp.h>

#include <memory>
#include <string>

#include "download/handles.h"
#include "download/portable/failure_text.h"
#include "support/installer_log.h"
#include "support/portable/decimal.h"
#include "support/system_library.h"
#include "support/win32_handle.h"

namespace {
const wchar_t kUserAgent[] = L"Tarvelo";
// Company scripts are a few kilobytes; a larger answer is no script.
constexpr size_t kMaxScriptBytes = 1024 * 1024;

// jsproxy.dll hands back a script's answer whole ("PROXY a:1; PROXY b:2; DIRECT"), where
// WinHttpGetProxyForUrl gives only part of it: Windows stops its list at the first DIRECT, and
// Wine keeps only the first proxy. Windows 11 no longer runs scripts in jsproxy; there WinHTTP's
// own answer is taken.
struct ScriptBuffer {  // AUTO_PROXY_SCRIPT_BUFFER, whose header conflicts with WinHTTP's
    DWORD structSize;
    LPSTR script;
    DWORD scriptSize;
};
struct ScriptEngine {
    BOOL(WINAPI* initialize)(DWORD, LPSTR, LPSTR, void*, ScriptBuffer*) = nullptr;
    BOOL(WINAPI* deinitialize)(LPSTR, DWORD) = nullptr;
    BOOL(WINAPI* getProxyInfo)(LPCSTR, DWORD, LPSTR, DWORD, LPSTR*, LPDWORD) = nullptr;
    bool Usable() const { return initialize && deinitialize && getProxyInfo; }
};

template <typename Function>
void Resolve(HMODULE module, const char* name, Function* function)
{
    *function = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

bool g_scriptEngineAvailable = true;

// Loaded on the calling thread, so that the lookup never waits on the loader for it, and never
// unloaded: a lookup left running may still be inside it.
ScriptEngine LoadScriptEngine()
{
    static HMODULE module = nullptr;
    ScriptEngine engine;
    if (!g_scriptEngineAvailable) return engine;
    if (!module) module = LoadSystemLibrary(L"jsproxy.dll");
    if (!module) return engine;
    Resolve(module, "InternetInitializeAutoProxyDll", &engine.initialize);
    Resolve(module, "InternetDeInitializeAutoProxyDll", &engine.deinitialize);
    Resolve(module, "InternetGetProxyInfo", &engine.getProxyInfo);
    return engine;
}

// Set once a lookup has been left running: it may hold jsproxy's one lock and script for good,
// so a second lookup would only wait on it.
bool g_lookupLeftBehind = false;

// Everything the lookup thread touches. It belongs to both threads until each has let go, so
// that a caller that stops waiting leaves the thread nothing of its own to use.
struct LookupJob {
    LONG references = 2;
    std::wstring url, host, scriptUrl;
    bool autoDetect = false;
    DWORD limitMs = 0;
    ScriptEngine engine;
    // Written by the thread; read by the caller only once the thread has ended.
    AutoProxyAnswer answer;
    // What failed on the way, for the log: a call and its error, or, with no call, the script's
    // HTTP status (0: the script was too long). `fetching`: the script was not fetched.
    struct Failure {
        const char* call;
        DWORD code;
        bool fetching;
    } failures[4];
    int failureCount = 0;
    bool Note(const char* call, DWORD code, bool fetching)
    {
        if (failureCount < 4) failures[failureCount++] = Failure{call, code, fetching};
        return false;
    }
    // The failure of `call` when `ok` is false; gives back `ok`.
    bool Check(bool ok, const char* call, bool fetching = false) { return ok || Note(call, GetLastError(), fetching); }
};

// One thread's hold on the job.
class JobReference {
public:
    explicit JobReference(LookupJob* job) : m_job(job) {}
    ~JobReference()
    {
        if (InterlockedDecrement(&m_job->references) == 0) delete m_job;
    }
    JobReference(const JobReference&) = delete;
    JobReference& operator=(const JobReference&) = delete;
    LookupJob& operator*() const { return *m_job; }
    LookupJob* operator->() const { return m_job; }

private:
    LookupJob* m_job;
};

std::string Narrow(const std::wstring& text)
{
    const int size = WideCharToMultiByte(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string out(size > 0 ? static_cast<size_t>(size) : 0, '\0');
    if (size > 0)
        WideCharToMultiByte(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), &out[0], size, nullptr, nullptr);
    return out;
}

std::wstring Widen(const char* text, size_t length)
{
    const int size = MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(length), nullptr, 0);
    std::wstring out(size > 0 ? static_cast<size_t>(size) : 0, L'\0');
    if (size > 0) MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(length), &out[0], size);
    return out;
}

// The script's address as found by DHCP or DNS.
bool DetectScriptUrl(LookupJob& job, std::wstring* scriptUrl)
{
    LPWSTR detected = nullptr;
    if (!job.Check(WinHttpDetectAutoProxyConfigUrl(WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A,
                                                   &detected),
                   "WinHttpDetectAutoProxyConfigUrl") ||
        !detected)
        return false;
    scriptUrl->assign(detected);
    GlobalFree(detected);
    return true;
}

// The script is fetched directly: the proxy it is to name is not known yet, and the default
// proxy is the one that has just failed.
bool FetchScript(LookupJob& job, HINTERNET session, const std::wstring& scriptUrl, std::string* script)
{
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof(parts);
    parts.dwHostNameLength = static_cast<DWORD>(-1);
    parts.dwUrlPathLength = static_cast<DWORD>(-1);
    parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    if (!job.Check(WinHttpCrackUrl(scriptUrl.c_str(), 0, 0, &parts) && parts.lpszHostName, "WinHttpCrackUrl", true))
        return false;
    const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    // The path runs on into the query, to the URL's end.
    std::wstring object(parts.lpszUrlPath ? parts.lpszUrlPath : L"");
    if (object.empty() || object[0] != L'/') object.insert(0, 1, L'/');
    WinHttpHandle connection(WinHttpConnect(session, host.c_str(), parts.nPort, 0));
    if (!job.Check(connection.Valid(), "WinHttpConnect", true)) return false;
    const wchar_t* accept[] = {L"*/*", nullptr};
    WinHttpHandle request(WinHttpOpenRequest(connection.Get(), nullptr, object.c_str(), nullptr, WINHTTP_NO_REFERER,
                                             accept,
                                             parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0));
    DWORD status = 0, size = sizeof(status);
    if (!job.Check(request.Valid(), "WinHttpOpenRequest", true) ||
        !job.Check(WinHttpSendRequest(request.Get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0),
                   "WinHttpSendRequest", true) ||
        !job.Check(WinHttpReceiveResponse(request.Get(), nullptr), "WinHttpReceiveResponse", true) ||
        !job.Check(WinHttpQueryHeaders(request.Get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                                       WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX),
                   "WinHttpQueryHeaders", true))
        return false;
    if (status != 200) return job.Note(nullptr, status, true);
    char buffer[4096];
    for (DWORD got = 1; got != 0;) {
        if (!job.Check(WinHttpReadData(request.Get(), buffer, sizeof(buffer), &got), "WinHttpReadData", true))
            return false;
        if (script->size() + got > kMaxScriptBytes) return job.Note(nullptr, 0, true);
        script->append(buffer, got);
    }
    return true;
}

// The script's whole answer, run by jsproxy; false when it could not be run there.
bool RunInScriptEngine(LookupJob& job, std::string& script)
{
    ScriptBuffer buffer{sizeof(ScriptBuffer), &script[0], static_cast<DWORD>(script.size() + 1)};
    // Refused on Windows 11, where jsproxy runs no scripts any more: nothing to log.
    if (!job.engine.initialize(0, nullptr, nullptr, nullptr, &buffer)) return false;
    const std::string url = Narrow(job.url), host = Narrow(job.host);
    LPSTR result = nullptr;
    DWORD length = 0;
    const BOOL ran = job.engine.getProxyInfo(url.c_str(), static_cast<DWORD>(url.size()), const_cast<LPSTR>(host.c_str()),
                                             static_cast<DWORD>(host.size()), &result, &length);
    const DWORD error = GetLastError();
    job.engine.deinitialize(nullptr, 0);
    if (!ran || !result) return job.Note("InternetGetProxyInfo", error, false);
    size_t used = 0;
    while (used < length && result[used]) ++used;
    job.answer.text = Widen(result, used);
    GlobalFree(result);
    return true;
}

// WinHTTP's own reading of the script: a list of proxies, or none for DIRECT.
bool RunInWinHttp(LookupJob& job, HINTERNET session, const std::wstring& scriptUrl)
{
    WINHTTP_AUTOPROXY_OPTIONS options{};
    options.dwFlags = WINHTTP_AUTOPROXY_CONFIG_URL;
    options.lpszAutoConfigUrl = scriptUrl.c_str();
    WINHTTP_PROXY_INFO info{};
    if (!job.Check(WinHttpGetProxyForUrl(session, job.url.c_str(), &options, &info), "WinHttpGetProxyForUrl"))
        return false;
    const bool named = info.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY && info.lpszProxy;
    job.answer.text = named ? info.lpszProxy : L"DIRECT";
    if (info.lpszProxy) GlobalFree(info.lpszProxy);
    if (info.lpszProxyBypass) GlobalFree(info.lpszProxyBypass);
    return true;
}

bool RunScript(LookupJob& job, HINTERNET session, const std::wstring& scriptUrl)
{
    if (job.engine.Usable()) {
        std::string script;
        if (!FetchScript(job, session, scriptUrl, &script)) return false;
        if (RunInScriptEngine(job, script)) return true;
    }
    return RunInWinHttp(job, session, scriptUrl);
}

void RunLookup(LookupJob& job)
{
    WinHttpHandle session(WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                      WINHTTP_NO_PROXY_BYPASS, 0));
    if (!job.Check(session.Valid(), "WinHttpOpen")) return;
    // A fetch that outlives the wait ends soon after it instead of at WinHTTP's minute.
    const int limit = static_cast<int>(job.limitMs);
    WinHttpSetTimeouts(session.Get(), limit, limit, limit, limit);
    std::wstring detected;
    if (job.autoDetect && DetectScriptUrl(job, &detected) && RunScript(job, session.Get(), detected)) {
        job.answer.answered = job.answer.fromAutoDetection = true;
        return;
    }
    if (!job.scriptUrl.empty() && RunScript(job, session.Get(), job.scriptUrl)) job.answer.answered = true;
}

// No exception may leave a thread's start routine: one that comes is the lookup's failure.
DWORD WINAPI LookupThread(void* parameter)
{
    const JobReference job(static_cast<LookupJob*>(parameter));
    try {
        RunLookup(*job);
    } catch (...) {
        job->answer.answered = false;
    }
    return 0;
}
}  // namespace

AutoProxyAnswer LookUpAutoProxy(const std::wstring& url, const std::wstring& host, bool autoDetect,
                                const std::wstring& scriptUrl, DWORD limitMs)
{
    if (g_lookupLeftBehind) {
        Log("Proxy auto-configuration not asked again: an earlier lookup has not ended");
        return AutoProxyAnswer();
    }
    std::unique_ptr<LookupJob> owned(new LookupJob);
    owned->url = url;
    owned->host = host;
    owned->scriptUrl = scriptUrl;
    owned->autoDetect = autoDetect;
    owned->limitMs = limitMs;
    owned->engine = LoadScriptEngine();
    UniqueHandle thread(CreateThread(nullptr, 0, &LookupThread, owned.get(), 0, nullptr));
    if (!thread) {
        Log(CallFailureLine("CreateThread", GetLastError()));
        return AutoProxyAnswer();
    }
    const JobReference job(owned.release());
    if (WaitForSingleObject(thread.Get(), limitMs) != WAIT_OBJECT_0) {
        g_lookupLeftBehind = true;
        // It may be spinning in a script for good: the download and the dialogs come first.
        SetThreadPriority(thread.Get(), THREAD_PRIORITY_LOWEST);
        LogWide(L"Proxy auto-configuration gave no answer in " + WideDecimal(limitMs / 1000) + L" s");
        return AutoProxyAnswer();
    }
    for (int i = 0; i < job->failureCount; ++i) {
        const LookupJob::Failure& failure = job->failures[i];
        if (failure.fetching) Log("Proxy auto-configuration script not fetched");
        if (failure.call)
            Log(CallFailureLine(failure.call, failure.code));
        else if (failure.code)
            LogWide(L"HTTP status " + WideDecimal(failure.code));
        else
            Log("Longer than 1048576 bytes");
    }
    return job->answer;
}

void SetScriptEngineForTesting(bool available) { g_scriptEngineAvailable = available; }
