#include "download/http_downloader.h"
#include "support/win32_handle.h"

#include <vector>

#include "download/call_failure.h"
#include "download/portable/auto_proxy.h"
#include "download/portable/http_rules.h"
#include "download/engine_ui.h"
#include "prereq/installers.h"
#include "prereq/portable/installer_commands.h"
#include "support/clean_room.h"
#include "support/installer_log.h"
#include "support/localized_text.h"
#include "support/portable/narrow.h"

bool TryBrowserProxy = true;
bool ProxyPromptPending = true;
bool ProxyCredentialsPromptPending = true;
bool ProxyServerLinePending = true;
bool ProxyCredentialsLinePending = true;
int ProxyPromptCount = 0;
int ProxyAuthCount = 0;
wchar_t SavedProxyFilePath[MAX_PATH] = L"";

namespace {
const wchar_t kUserAgent[] = L"Tarvelo";


const wchar_t* OrNull(const std::wstring& text) { return text.empty() ? nullptr : text.c_str(); }

HINTERNET OpenSession(DWORD accessType, const wchar_t* proxyName)
{
    HINTERNET session = WinHttpOpen(kUserAgent, accessType, proxyName, WINHTTP_NO_PROXY_BYPASS, 0);
    if (!session) LogCallFailure("WinHttpOpen", GetLastError());
    return session;
}

HINTERNET OpenNamedProxySession(const std::wstring& proxy)
{
    const std::wstring name = ProxyNameForSession(proxy);
    return OpenSession(WINHTTP_ACCESS_TYPE_NAMED_PROXY, name.c_str());
}

// The browser's settings as WinHTTP hands them over; it owns the strings.
struct BrowserSettings {
    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG value{};
    BrowserSettings() = default;
    BrowserSettings(const BrowserSettings&) = delete;
    BrowserSettings& operator=(const BrowserSettings&) = delete;
    ~BrowserSettings()
    {
        if (value.lpszProxy) GlobalFree(value.lpszProxy);
        if (value.lpszProxyBypass) GlobalFree(value.lpszProxyBypass);
        if (value.lpszAutoConfigUrl) GlobalFree(value.lpszAutoConfigUrl);
    }
};

// The schemes a 401 or 407 offers; false (logged) when they cannot be read.
bool QueryAuthSchemes(HINTERNET request, DWORD* supported)
{
    DWORD first = 0, target = 0;
    if (WinHttpQueryAuthSchemes(request, supported, &first, &target)) return true;
    LogCallFailure("WinHttpQueryAuthSchemes", GetLastError());
    return false;
}

// Appends one piece to the proxy file; a failure is logged and the download goes on.
void AppendToProxyFile(const std::wstring& piece)
{
    if (SavedProxyFilePath[0] == L'\0') return;
    std::string bytes;
    NarrowLatin1(piece, bytes, '?');
    ::AppendToProxyFile(SavedProxyFilePath, bytes);
}
}  // namespace

CHttpDownloader2::CHttpDownloader2(bool dotNetMissingArg) : dotNetMissing(dotNetMissingArg)
{
    const std::wstring path = ProxyFilePath();  // shorter than MAX_PATH, or empty
    SavedProxyFilePath[path.copy(SavedProxyFilePath, MAX_PATH - 1)] = L'\0';
}

CHttpDownloader2::~CHttpDownloader2()
{
    CloseHandles();
    ProgressDialog.store(nullptr);
}

void CHttpDownloader2::CloseHandles()
{
    request.Reset();
    connection.Reset();
    session.Reset();
    m_rangeOnRequest = false;
    m_proxyCredentialsOnRequest = false;
    m_sessionDirect = false;
}

void CHttpDownloader2::SetAccessType(int32_t type, uint32_t) { accessType = type; }

std::wstring CHttpDownloader2::MakeProxyString(std::wstring server, std::wstring portText)
{
    return server + L":" + portText;
}

int CHttpDownloader2::GetProxyFromUser()
{
    if (!ProxyPromptPending) return 0;
    std::wstring server, portText;
    const INT_PTR result = Prompts().AskForProxy(ProxyPromptCount > 0, &server, &portText);
    if (result == -1) {
        // The dialog could not be shown: nobody was asked, and asking again would only fail
        // again, so the session fails instead of looping.
        Log("ERROR: the proxy settings dialog could not be shown");
        return 0;
    }
    if (result == 0) AbortRequested.store(true);
    proxyServerText = WithHttpPrefix(TrimWhiteSpace(server));
    proxyPortText = TrimWhiteSpace(portText);
    proxy = MakeProxyString(proxyServerText, proxyPortText);
    ++ProxyPromptCount;
    return static_cast<int>(result);
}

int CHttpDownloader2::CreateSession()
{
    Log("CreateSession...");
    if (session) return 1;
    for (;;) {
        if (IsAborted()) return 1;
        switch (accessType) {
        case AccessDefaultProxy:
            session.Reset(OpenSession(WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME));
            break;
        case AccessNoProxy:
            session.Reset(OpenSession(WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME));
            break;
        case AccessNamedProxy:
            if (TryBrowserProxy) TryBrowserProxySession();
            break;
        default:
            break;
        }
        if (session) return 1;
        TryBrowserProxy = false;
        if (GetProxyFromUser() == 0) {
            session.Reset();
            return 0;
        }
        session.Reset(OpenNamedProxySession(proxy));
        if (session) return 1;
    }
}

// The browser's proxy, taken the way the browser applies its settings: what auto-detection
// finds when it is on, or else the configuration script it names, entry by entry, then its
// static proxy. An entry a session cannot be opened with is passed over at once, with its line.
void CHttpDownloader2::TryBrowserProxySession()
{
    if (!m_browser.read && !ReadBrowserSources()) {
        TryBrowserProxy = false;
        return;
    }
    for (; m_browser.next < m_browser.entries.size(); ++m_browser.next) {
        const ScriptEntry& entry = m_browser.entries[m_browser.next];
        LogWide(ScriptEntryLine(m_browser.answeredBy, entry));
        if (entry.kind == ScriptEntry::Kind::Direct) {
            proxy.clear();
            session.Reset(OpenSession(WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME));
            m_sessionDirect = true;
        } else if (entry.kind == ScriptEntry::Kind::Proxy) {
            proxy = WithHttpPrefix(entry.address);
            session.Reset(OpenNamedProxySession(proxy));
        }
        if (session) return;
    }
    if (m_browser.next == m_browser.entries.size()) {
        proxy = BrowserProxyFromConfig(m_browser.staticProxy);
        session.Reset(OpenNamedProxySession(proxy));
        if (!session) ++m_browser.next;
    }
}

bool CHttpDownloader2::ReadBrowserSources()
{
    m_browser = BrowserSources();
    m_browser.read = true;
    BrowserSettings settings;
    if (!WinHttpGetIEProxyConfigForCurrentUser(&settings.value)) {
        LogCallFailure("WinHttpGetIEProxyConfigForCurrentUser", GetLastError());
        m_browser.next = 1;  // nothing to try, not even a static proxy
        return false;
    }
    const WINHTTP_CURRENT_USER_IE_PROXY_CONFIG& config = settings.value;
    if (config.lpszProxy) m_browser.staticProxy = config.lpszProxy;
    const std::wstring scriptUrl = config.lpszAutoConfigUrl ? config.lpszAutoConfigUrl : L"";
    if (!config.fAutoDetect && scriptUrl.empty()) return true;
    const AutoProxyAnswer answer =
        LookUpAutoProxy(ProxyLookupUrl(serviceType == INTERNET_SCHEME_HTTPS, hostName, port, objectName), hostName,
                        config.fAutoDetect != FALSE, scriptUrl, m_autoProxyLimitMs);
    if (answer.answered) {
        m_browser.entries = ParseScriptAnswer(answer.text);
        m_browser.answeredBy = answer.fromAutoDetection ? L"auto-detection" : L"auto-configuration script";
    }
    return true;
}

int CHttpDownloader2::CreateConnection()
{
    Log("CreateConnection...");
    if (!session) {
        connection.Reset();
        return 0;
    }
    connection.Reset(WinHttpConnect(session.Get(), hostName.c_str(), port, 0));
    if (!connection) LogCallFailure("WinHttpConnect", GetLastError());
    return connection ? 1 : 0;
}

int CHttpDownloader2::CreateRequest()
{
    Log("CreateRequest...");
    return OpenRequestHandle() ? 1 : 0;
}

bool CHttpDownloader2::OpenRequestHandle()
{
    const std::vector<std::wstring> tokens = SplitAcceptTypes(acceptTypes);
    std::vector<const wchar_t*> accept;
    accept.reserve(tokens.size() + 1);
    for (const std::wstring& token : tokens) accept.push_back(token.c_str());
    accept.push_back(nullptr);
    m_rangeOnRequest = false;
    m_proxyCredentialsOnRequest = false;
    m_requestSpent = false;
    if (!connection) {
        request.Reset();
        return false;
    }
    request.Reset(WinHttpOpenRequest(connection.Get(), OrNull(verb), objectName.c_str(), OrNull(httpVersion),
                                     OrNull(referrer), accept.data(), GetRequestFlags()));
    if (!request) {
        LogCallFailure("WinHttpOpenRequest", GetLastError());
        return false;
    }
    WatchSecureFailures(request.Get());
    return true;
}

int CHttpDownloader2::SetServerCredentials(uint32_t scheme)
{
    if (serverUserName.empty()) return 1;
    if (WinHttpSetCredentials(request.Get(), WINHTTP_AUTH_TARGET_SERVER, scheme, serverUserName.c_str(),
                              serverPassword.c_str(), nullptr))
        return 1;
    LogCallFailure("WinHttpSetCredentials", GetLastError());
    return 0;
}

int CHttpDownloader2::SetProxyCredentials(uint32_t scheme)
{
    int result = 1;
    if (ProxyCredentialsPromptPending) {
        std::wstring user, password;
        INT_PTR modal = 0;
        const bool answered = Prompts().AskForProxyCredentials(ProxyAuthCount >= 1, &user, &password, &modal);
        if (modal == 0) AbortRequested.store(true);
        if (!answered) return 0;
        proxyUserName = user;
        proxyPassword = password;
    }
    if (!proxyUserName.empty()) {
        result = WinHttpSetCredentials(request.Get(), WINHTTP_AUTH_TARGET_PROXY, scheme,
                                       proxyUserName.c_str(), proxyPassword.c_str(), nullptr)
                     ? 1
                     : 0;
        if (result == 0) LogCallFailure("WinHttpSetCredentials", GetLastError());
    }
    return result;
}

uint32_t CHttpDownloader2::ChooseAuthScheme(uint32_t supportedSchemes) { return ChooseScheme(supportedSchemes); }

uint32_t CHttpDownloader2::ChooseProxyAuthScheme(uint32_t supportedSchemes)
{
    return ChooseAuthScheme(supportedSchemes);
}

uint32_t CHttpDownloader2::GetRequestFlags() { return RequestFlagsFor(serviceType == INTERNET_SCHEME_HTTPS); }

std::wstring CHttpDownloader2::GetRangeHeader(uint32_t from) { return MakeRangeHeader(from, ContentLength); }

int CHttpDownloader2::PromptServerCredentials(uint32_t* value)
{
    (void)value;
    return 0;
}

void CHttpDownloader2::OnStatusText(std::wstring text) { (void)text; }

void CHttpDownloader2::ReportStatusFormat(UINT resourceId, std::wstring argument)
{
    const wchar_t* resource = nullptr;
    const int length = LoadStringW(GetModuleHandleW(nullptr), resourceId,
                                   reinterpret_cast<LPWSTR>(&resource), 0);
    std::wstring text = length > 0 ? std::wstring(resource, static_cast<size_t>(length)) : std::wstring();
    const size_t at = text.find(L"%1");
    if (at != std::wstring::npos) text.replace(at, 2, argument);
    OnStatusText(text);
}

void CHttpDownloader2::ReportStatus(UINT resourceId)
{
    const wchar_t* resource = nullptr;
    const int length = LoadStringW(GetModuleHandleW(nullptr), resourceId,
                                   reinterpret_cast<LPWSTR>(&resource), 0);
    OnStatusText(length > 0 ? std::wstring(resource, static_cast<size_t>(length)) : std::wstring());
}

bool CHttpDownloader2::IsAborted() { return AbortRequested.load(); }

void CHttpDownloader2::OnContentLength(uint32_t length) { (void)length; }

void CHttpDownloader2::ReservedHook(uint32_t, uint32_t, uint32_t) {}

unsigned long CHttpDownloader2::InstallDotNet(std::wstring folder)
{
    Progress().SetHeaderTexts(TextOf(L"DIALOG_CAPTION"), TextOf(L"INSTALLING_DOTNET"));
    Progress().SetStatusTexts(TextOf(L"INSTALLING_BOLD_TEXT"), TextOf(L"PROGRESS_BAR_INSTALLING_TEXT"));
    return RunDotNetInstaller(folder, checkedFiles.Take(DotNetPackagePath(folder)),
                       [](int position) { Progress().SetPos(position); });
}

// ---- proxy fallback and the saved proxy file ----

void CHttpDownloader2::ProxyFallbackStep()
{
    if (accessType == AccessDefaultProxy) {
        Log("direct connection failed...trying proxy");
        accessType = AccessNamedProxy;
        TryBrowserProxy = true;
    } else {
        // The browser's next way out, while it has one; then the user's.
        if (m_browser.Left()) ++m_browser.next;
        TryBrowserProxy = m_browser.Left();
    }
}

void CHttpDownloader2::SaveProxyServer()
{
    if (!ProxyServerLinePending || m_sessionDirect || !IsSavableProxy(proxy)) return;
    ProxyServerLinePending = false;
    AppendToProxyFile(ProxyServerPiece(proxy));
    ProxyPromptPending = false;
}

void CHttpDownloader2::SaveProxyCredentials()
{
    if (!ProxyCredentialsLinePending || m_sessionDirect || !IsSavableProxy(proxy)) return;
    ProxyCredentialsLinePending = false;
    AppendToProxyFile(ProxyCredentialsPiece(proxyUserName, proxyPassword));
    ProxyCredentialsPromptPending = false;
}

// ---- answers to 407 and 401 ----

CHttpDownloader2::Answer CHttpDownloader2::AnswerProxyChallenge()
{
    DWORD supported = 0;
    if (!QueryAuthSchemes(request.Get(), &supported)) return Answer::Fail;
    const uint32_t scheme = ChooseProxyAuthScheme(supported);
    if (scheme == 0) return Answer::Fail;
    if (!ProxyCredentialsPromptPending) {
        // The saved credentials are no longer asked for; a proxy that keeps refusing them
        // would otherwise be answered forever.
        if (++m_savedCredentialRefusals > 3) {
            Log("ERROR: proxy keeps refusing the saved credentials");
            return Answer::Fail;
        }
    }
    if (m_proxyCredentialsOnRequest) {
        // The proxy refused what this request carried. Wine's WinHTTP keeps sending the first
        // Basic credentials set on a request handle, whatever is set later, so the answer goes
        // out on a fresh request: on every WinHTTP the new credentials are then the ones sent.
        if (!OpenRequestHandle()) return Answer::Fail;
    }
    if (SetProxyCredentials(scheme) == 0) return Answer::Fail;
    m_proxyCredentialsOnRequest = !proxyUserName.empty();
    ++ProxyAuthCount;
    return Answer::Resend;
}

CHttpDownloader2::Answer CHttpDownloader2::AnswerServerChallenge(bool* serverCredentialsTried)
{
    Log("ERROR: dwStatusCode=HTTP_STATUS_DENIED");
    DWORD supported = 0;
    if (!QueryAuthSchemes(request.Get(), &supported)) return Answer::Fail;
    const uint32_t scheme = ChooseAuthScheme(supported);
    if (scheme == 0) return Answer::Fail;
    if (!serverUserName.empty() && !*serverCredentialsTried) {
        if (SetServerCredentials(scheme) == 0) return Answer::Fail;
        *serverCredentialsTried = true;
        return Answer::Resend;
    }
    if (allowServerCredentialPrompt == 0) return Answer::Fail;
    uint32_t value = 0;
    return PromptServerCredentials(&value) != 0 ? Answer::Resend : Answer::Fail;
}
