#include "download/auto_proxy_lookup.h"

#include <winhttp.h>

#include <atomic>
#include <memory>
#include <string>

#include "download/handles.h"
#include "download/portable/failure_text.h"
#include "download/portable/script_child_pipe.h"
#include "download/script_sandbox.h"
#include "support/installer_log.h"
#include "support/portable/decimal.h"
#include "support/win32_handle.h"

namespace {
const wchar_t kUserAgent[] = L"Tarvelo";

// Set once a lookup has given no answer in its time (a script that never returns, a detection
// that waits on the network): a second one would keep the run waiting as long again.
bool g_lookupGaveNoAnswer = false;

// Everything the lookup thread touches. It belongs to both threads until each has let go, so
// that a caller that stops waiting leaves the thread nothing of its own to use.
struct LookupJob {
    LONG references = 2;
    std::wstring url, host, scriptUrl;
    bool autoDetect = false;
    ULONGLONG deadline = 0;
    // The caller stops it when it stops waiting.
    ScriptSandbox sandbox;
    // Written by the thread; read by the caller only once the thread has ended.
    AutoProxyAnswer answer;
    // What failed on the way, for the log, in order.
    LookupNotes notes;
    // The failure of `call` when `ok` is false; gives back `ok`.
    bool Check(bool ok, const char* call) { return ok || notes.CallFailed(call); }
    DWORD MillisecondsLeft() const
    {
        const ULONGLONG now = GetTickCount64();
        return now < deadline ? static_cast<DWORD>(deadline - now) : 0;
    }
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

// The script engine takes and gives 8-bit text of the system's code page.
std::string Narrow(const std::wstring& text)
{
    const int size = WideCharToMultiByte(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string out(size > 0 ? static_cast<size_t>(size) : 0, '\0');
    if (size > 0)
        WideCharToMultiByte(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), &out[0], size, nullptr, nullptr);
    return out;
}

std::wstring Widen(const std::string& text)
{
    const int size = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(size > 0 ? static_cast<size_t>(size) : 0, L'\0');
    if (size > 0) MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &out[0], size);
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

// Why the script was not fetched: the call that failed, or what came instead of a script.
bool NotFetched(LookupJob& job, const char* why, uint32_t code, LookupNotes::Form form)
{
    job.notes.Add("Proxy auto-configuration script not fetched");
    return job.notes.Add(why, code, form);
}

bool NotFetched(LookupJob& job, const char* call)
{
    return NotFetched(job, call, GetLastError(), LookupNotes::Form::Call);
}

// The script is fetched directly: the proxy it is to name is not known yet, and the default
// proxy is the one that has just failed. Only a whole 200 of at most kMaxScriptBytes is a script.
bool FetchScript(LookupJob& job, HINTERNET session, const std::wstring& scriptUrl, std::string* script)
{
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof(parts);
    parts.dwHostNameLength = static_cast<DWORD>(-1);
    parts.dwUrlPathLength = static_cast<DWORD>(-1);
    parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    if (!WinHttpCrackUrl(scriptUrl.c_str(), 0, 0, &parts) || !parts.lpszHostName)
        return NotFetched(job, "WinHttpCrackUrl");
    const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    // The path runs on into the query, to the URL's end.
    std::wstring object(parts.lpszUrlPath ? parts.lpszUrlPath : L"");
    if (object.empty() || object[0] != L'/') object.insert(0, 1, L'/');
    WinHttpHandle connection(WinHttpConnect(session, host.c_str(), parts.nPort, 0));
    if (!connection) return NotFetched(job, "WinHttpConnect");
    const wchar_t* accept[] = {L"*/*", nullptr};
    WinHttpHandle request(WinHttpOpenRequest(connection.Get(), nullptr, object.c_str(), nullptr, WINHTTP_NO_REFERER,
                                             accept,
                                             parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0));
    if (!request) return NotFetched(job, "WinHttpOpenRequest");
    if (!WinHttpSendRequest(request.Get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0))
        return NotFetched(job, "WinHttpSendRequest");
    if (!WinHttpReceiveResponse(request.Get(), nullptr)) return NotFetched(job, "WinHttpReceiveResponse");
    DWORD status = 0, size = sizeof(status);
    if (!WinHttpQueryHeaders(request.Get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX))
        return NotFetched(job, "WinHttpQueryHeaders");
    if (status != 200) return NotFetched(job, "HTTP status ", status, LookupNotes::Form::Number);
    char buffer[4096];
    for (DWORD got = 1; got != 0;) {
        if (!WinHttpReadData(request.Get(), buffer, sizeof(buffer), &got)) return NotFetched(job, "WinHttpReadData");
        if (script->size() + got > kMaxScriptBytes) return NotFetched(job, "Longer than 1048576 bytes", 0, LookupNotes::Form::Line);
        script->append(buffer, got);
    }
    return true;
}

// Windows 8 and later run the script in WinHTTP's auto-proxy service, out of this process, and
// give back every entry of its answer in order, DIRECT included. Wine has stubs of these only.
struct ProxyResolverCalls {
    DWORD(WINAPI* create)(HINTERNET, HINTERNET*) = nullptr;
    DWORD(WINAPI* getProxyForUrlEx)(HINTERNET, PCWSTR, WINHTTP_AUTOPROXY_OPTIONS*, DWORD_PTR) = nullptr;
    DWORD(WINAPI* getProxyResult)(HINTERNET, WINHTTP_PROXY_RESULT*) = nullptr;
    VOID(WINAPI* freeProxyResult)(WINHTTP_PROXY_RESULT*) = nullptr;
};

template <typename Function>
bool Resolve(HMODULE module, const char* name, Function* function)
{
    *function = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    return *function != nullptr;
}

// What the resolver's callback reports, to the one lookup that waits for it at a time. A lookup
// that stops waiting is the run's last one, so a late report never reaches a later lookup.
struct ResolverReport {
    UniqueHandle done{CreateEventW(nullptr, FALSE, FALSE, nullptr)};
    std::atomic<DWORD> error{ERROR_IO_PENDING};
};

ResolverReport& Report()
{
    static ResolverReport report;
    return report;
}

// Called by WinHTTP on a thread of its own; it only copies a number and signals.
void CALLBACK OnResolverStatus(HINTERNET, DWORD_PTR, DWORD status, LPVOID information, DWORD) noexcept
{
    ResolverReport& report = Report();
    if (status == WINHTTP_CALLBACK_STATUS_REQUEST_ERROR && information)
        report.error = static_cast<const WINHTTP_ASYNC_RESULT*>(information)->dwError;
    else if (status == WINHTTP_CALLBACK_STATUS_GETPROXYFORURL_COMPLETE)
        report.error = ERROR_SUCCESS;
    else
        return;
    SetEvent(report.done.Get());
}

std::wstring ProxyResultText(const WINHTTP_PROXY_RESULT& result)
{
    std::wstring text;
    for (DWORD i = 0; i < result.cEntries; ++i) {
        const WINHTTP_PROXY_RESULT_ENTRY& entry = result.pEntries[i];
        if (!text.empty()) text += L"; ";
        if (!entry.fProxy) {
            text += L"DIRECT";
            continue;
        }
        text += entry.ProxyScheme == INTERNET_SCHEME_SOCKS ? L"SOCKS " : L"PROXY ";
        text += entry.pwszProxy ? entry.pwszProxy : L"";
        text += L":" + WideDecimal(entry.ProxyPort);
    }
    return text;
}

bool RunInProxyService(LookupJob& job, const std::wstring& scriptUrl)
{
    ProxyResolverCalls calls;
    const HMODULE winhttp = GetModuleHandleW(L"winhttp.dll");
    if (!winhttp || !Resolve(winhttp, "WinHttpCreateProxyResolver", &calls.create) ||
        !Resolve(winhttp, "WinHttpGetProxyForUrlEx", &calls.getProxyForUrlEx) ||
        !Resolve(winhttp, "WinHttpGetProxyResult", &calls.getProxyResult) ||
        !Resolve(winhttp, "WinHttpFreeProxyResult", &calls.freeProxyResult))
        return false;  // before Windows 8: nothing to log
    WinHttpHandle session(
        WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, WINHTTP_FLAG_ASYNC));
    if (!job.Check(session.Valid(), "WinHttpOpen")) return false;
    WinHttpHandle resolver;
    const DWORD created = calls.create(session.Get(), resolver.Put());
    if (created != ERROR_SUCCESS) return job.notes.Add("WinHttpCreateProxyResolver", created, LookupNotes::Form::Call);
    ResolverReport& report = Report();
    if (!report.done) return job.notes.CallFailed("CreateEventW");
    ResetEvent(report.done.Get());
    report.error = ERROR_IO_PENDING;
    if (WinHttpSetStatusCallback(resolver.Get(), &OnResolverStatus,
                                 WINHTTP_CALLBACK_FLAG_REQUEST_ERROR | WINHTTP_CALLBACK_FLAG_GETPROXYFORURL_COMPLETE,
                                 0) == WINHTTP_INVALID_STATUS_CALLBACK)
        return job.notes.CallFailed("WinHttpSetStatusCallback");
    WINHTTP_AUTOPROXY_OPTIONS options{};
    options.dwFlags = WINHTTP_AUTOPROXY_CONFIG_URL;
    options.lpszAutoConfigUrl = scriptUrl.c_str();
    options.fAutoLogonIfChallenged = TRUE;
    DWORD error = calls.getProxyForUrlEx(resolver.Get(), job.url.c_str(), &options, 0);
    if (error == ERROR_IO_PENDING)
        error = WaitForSingleObject(report.done.Get(), job.MillisecondsLeft()) == WAIT_OBJECT_0 ? report.error.load()
                                                                                              : ERROR_TIMEOUT;
    WINHTTP_PROXY_RESULT result{};
    if (error == ERROR_SUCCESS) error = calls.getProxyResult(resolver.Get(), &result);
    if (error == ERROR_SUCCESS) {
        job.answer.text = ProxyResultText(result);
        calls.freeProxyResult(&result);
        if (job.answer.text.empty()) error = ERROR_NO_DATA;
    }
    // Closing the resolver, on the way out, cancels a call still under way.
    return error == ERROR_SUCCESS || job.notes.Add("WinHttpGetProxyForUrlEx", error, LookupNotes::Form::Call);
}

// WinHTTP's own reading of the script: in its auto-proxy service, never in this process where
// Windows has the service (Wine runs it in process); a list of proxies up to the first DIRECT,
// or none for DIRECT. It logs on to a script server that asks for the user's logon.
bool RunInWinHttp(LookupJob& job, HINTERNET session, const std::wstring& scriptUrl)
{
    WINHTTP_AUTOPROXY_OPTIONS options{};
    options.dwFlags = WINHTTP_AUTOPROXY_CONFIG_URL | WINHTTP_AUTOPROXY_RUN_OUTPROCESS_ONLY;
    options.lpszAutoConfigUrl = scriptUrl.c_str();
    options.fAutoLogonIfChallenged = TRUE;
    WINHTTP_PROXY_INFO info{};
    if (!job.Check(WinHttpGetProxyForUrl(session, job.url.c_str(), &options, &info), "WinHttpGetProxyForUrl"))
        return false;
    const bool named = info.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY && info.lpszProxy;
    job.answer.text = named ? info.lpszProxy : L"DIRECT";
    if (info.lpszProxy) GlobalFree(info.lpszProxy);
    if (info.lpszProxyBypass) GlobalFree(info.lpszProxyBypass);
    return true;
}

// The script's whole answer: from WinHTTP's service where there is one, else run in the
// sandbox's child. Where the script cannot be fetched, or the child cannot run it, WinHTTP's
// own reading is taken instead; it is never run in this process.
bool RunScript(LookupJob& job, HINTERNET session, const std::wstring& scriptUrl)
{
    if (RunInProxyService(job, scriptUrl)) return true;
    ScriptRequest request;
    if (job.sandbox.Stopped()) return false;
    if (!FetchScript(job, session, scriptUrl, &request.script))
        return !job.sandbox.Stopped() && RunInWinHttp(job, session, scriptUrl);
    request.url = Narrow(job.url);
    request.host = Narrow(job.host);
    std::string answer;
    switch (job.sandbox.Run(request, &answer, &job.notes)) {
    case ScriptSandbox::Outcome::Answered:
        job.answer.text = Widen(answer);
        return true;
    case ScriptSandbox::Outcome::NotRun:
        job.notes.Add("Proxy auto-configuration script left to WinHTTP");
        return RunInWinHttp(job, session, scriptUrl);
    case ScriptSandbox::Outcome::ScriptFailed:
        return RunInWinHttp(job, session, scriptUrl);
    default:
        return false;
    }
}

void RunLookup(LookupJob& job)
{
    WinHttpHandle session(WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                      WINHTTP_NO_PROXY_BYPASS, 0));
    if (!job.Check(session.Valid(), "WinHttpOpen")) return;
    // A fetch that outlives the wait ends soon after it instead of at WinHTTP's minute.
    const int limit = static_cast<int>(job.MillisecondsLeft());
    WinHttpSetTimeouts(session.Get(), limit, limit, limit, limit);
    std::wstring detected;
    if (job.autoDetect && DetectScriptUrl(job, &detected) && RunScript(job, session.Get(), detected)) {
        job.answer.answered = job.answer.fromAutoDetection = true;
        return;
    }
    if (!job.scriptUrl.empty() && !job.sandbox.Stopped() && RunScript(job, session.Get(), job.scriptUrl))
        job.answer.answered = true;
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

void LogNote(const LookupNotes::Note& note)
{
    switch (note.form) {
    case LookupNotes::Form::Line:
        Log(note.text);
        return;
    case LookupNotes::Form::Call:
        Log(CallFailureLine(note.text, note.code));
        return;
    case LookupNotes::Form::Number:
        Log(note.text + Decimal(note.code));
        return;
    case LookupNotes::Form::ExitCode:
        Log(ExitCodeLine(note.text, note.code));
        return;
    }
}
}  // namespace

bool LookupNotes::Add(const char* text, uint32_t code, Form form)
{
    if (count < static_cast<int>(sizeof(notes) / sizeof(notes[0]))) notes[count++] = Note{text, code, form};
    return false;
}

bool LookupNotes::CallFailed(const char* call) { return Add(call, GetLastError(), Form::Call); }

AutoProxyAnswer LookUpAutoProxy(const std::wstring& url, const std::wstring& host, bool autoDetect,
                                const std::wstring& scriptUrl, DWORD limitMs)
{
    if (g_lookupGaveNoAnswer) {
        Log("Proxy auto-configuration not asked again: an earlier lookup gave no answer");
        return AutoProxyAnswer();
    }
    std::unique_ptr<LookupJob> owned(new LookupJob);
    owned->url = url;
    owned->host = host;
    owned->scriptUrl = scriptUrl;
    owned->autoDetect = autoDetect;
    owned->deadline = GetTickCount64() + limitMs;
    UniqueHandle thread(CreateThread(nullptr, 0, &LookupThread, owned.get(), 0, nullptr));
    if (!thread) {
        Log(CallFailureLine("CreateThread", GetLastError()));
        return AutoProxyAnswer();
    }
    const JobReference job(owned.release());
    if (WaitForSingleObject(thread.Get(), limitMs) != WAIT_OBJECT_0) {
        g_lookupGaveNoAnswer = true;
        // The script's process ends here, and with it anything it started. A detection or a
        // fetch under way cannot be cancelled: it ends at its own timeouts, without a script.
        job->sandbox.Stop();
        SetThreadPriority(thread.Get(), THREAD_PRIORITY_LOWEST);
        LogWide(L"Proxy auto-configuration gave no answer in " + WideDecimal(limitMs / 1000) + L" s");
        return AutoProxyAnswer();
    }
    for (int i = 0; i < job->notes.count; ++i) LogNote(job->notes.notes[i]);
    return job->answer;
}
