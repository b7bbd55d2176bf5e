#pragma once
#include <windows.h>
#include <winhttp.h>

#include <cstdint>
#include <string>

#include "download/auto_proxy_lookup.h"
#include "download/checked_files.h"
#include "download/earlier_download.h"
#include "download/handles.h"
#include "download/portable/auto_proxy.h"
#include "download/proxy_state.h"
#include "download/shared_state.h"
#include "prereq/portable/download_plan.h"

// The one object through which the installer talks HTTP: a WinHTTP session, connection and
// request for the file being fetched, the proxy and credential settings, and the state of the
// transfer. Each step is a virtual operation so that it can be replaced.
class CHttpDownloader2 {
public:
    explicit CHttpDownloader2(bool dotNetMissing);
    // Not virtual: the object is never deleted through a base pointer.
    ~CHttpDownloader2();
    CHttpDownloader2(const CHttpDownloader2&) = delete;
    CHttpDownloader2& operator=(const CHttpDownloader2&) = delete;

    virtual void SetAccessType(int32_t accessType, uint32_t option);  // option: nothing reads it
    virtual std::wstring MakeProxyString(std::wstring server, std::wstring port);
    virtual int GetProxyFromUser();
    virtual int CreateSession();
    virtual int CreateConnection();
    virtual int CreateRequest();
    virtual int SetServerCredentials(uint32_t scheme);
    virtual int SetProxyCredentials(uint32_t scheme);
    virtual uint32_t ChooseAuthScheme(uint32_t supportedSchemes);
    virtual uint32_t ChooseProxyAuthScheme(uint32_t supportedSchemes);
    virtual uint32_t GetRequestFlags();
    virtual std::wstring GetRangeHeader(uint32_t from);
    virtual int PromptServerCredentials(uint32_t* value);
    virtual void OnStatusText(std::wstring text);
    virtual void ReportStatusFormat(UINT resourceId, std::wstring argument);
    virtual void ReportStatus(UINT resourceId);
    virtual bool IsAborted();
    virtual void OnContentLength(uint32_t length);
    virtual void ReservedHook(uint32_t first, uint32_t second, uint32_t third);
    virtual bool ReadToFile(DownloadItem& item);
    virtual unsigned long InstallDotNet(std::wstring folder);

    // Fetches the items in order; 1 when every file is complete (also for count < 1), else 0.
    int DownloadFiles(DownloadItem* items, int count);

    std::wstring proxy;
    std::wstring proxyServerText;
    std::wstring proxyPortText;
    std::wstring proxyUserName;
    std::wstring proxyPassword;
    std::wstring serverUserName;
    std::wstring serverPassword;
    std::wstring referrer;
    std::wstring verb;
    std::wstring httpVersion;
    // The session's access type. Its values are the class's own, not WinHTTP's: the named proxy
    // is 2 here and WINHTTP_ACCESS_TYPE_NAMED_PROXY (3) in WinHTTP.
    enum : int32_t { AccessDefaultProxy = 0, AccessNoProxy = 1, AccessNamedProxy = 2 };
    int32_t accessType = AccessDefaultProxy;
    int32_t allowServerCredentialPrompt = 1;
    uint32_t chunkSize = 1024;
    std::wstring acceptTypes = L"*/*";
    int32_t progressBase = 0;
    bool dotNetMissing;
    uint32_t serviceType = 0;  // INTERNET_SCHEME_* of the current URL
    WinHttpHandle session;
    WinHttpHandle connection;
    WinHttpHandle request;
    std::wstring hostName;
    std::wstring objectName;
    uint16_t port = 0;
    // The downloaded files that passed their checks, held until their programs are started.
    CheckedFiles checkedFiles;

protected:
    // Steps of the download loop, proxy and authentication, reachable for tests.
    void CloseHandles();
    bool OpenRequestHandle();  // a new request on the current connection, without the log line
    bool ParseUrl(DownloadItem& item);
    void ProxyFallbackStep();
    void TryBrowserProxySession();
    bool ReadBrowserSources();
    void SaveProxyServer();
    void SaveProxyCredentials();
    enum class Answer { Resend, Fail };
    Answer AnswerProxyChallenge();
    Answer AnswerServerChallenge(bool* serverCredentialsTried);
    enum class Step { Done, Failed, Restart };
    Step AttemptItem(DownloadItem& item, bool* serverCredentialsTried);
    // The steps of one attempt. Next: on to the following step; Repeat: send again within the
    // attempt; Stop: the attempt ends with the Step given back.
    enum class Flow { Next, Repeat, Stop };
    Flow SendRequest(DownloadItem& item, Step* result);
    // The Range of a resume, with the If-Range that makes the server send the whole file instead
    // when it is no longer the file the bytes on disk came from; neither for a request from 0.
    void SetRangeOnRequest(const DownloadItem& item);
    Flow AnswerStatus(DownloadItem& item, bool* serverCredentialsTried, DWORD* status, Step* result);
    Step ReadBody(DownloadItem& item, DWORD status);
    // The steps of ReadToFile.
    UniqueHandle OpenForResume(DownloadItem& item);
    bool CopyBody(HANDLE file, const DownloadItem& item, int* next);
    bool SettleAttempt(DownloadItem& item, UniqueHandle file, bool cleanEnd, int next);
    bool CountFailedAttempt(DownloadItem& item);
    Step PrepareBody(DownloadItem& item, DWORD status);
    Step RestartFromZero(DownloadItem& item, const char* why);
    Step AnswerRangeRefused(DownloadItem& item);  // Done: the file on disk is complete
    Step FinishItem(DownloadItem& item, int32_t baseBefore);
    void DiscardBody();
    void LogReadFailure();  // the call that ended the last ReadToFile attempt, if one failed

    static constexpr uint32_t kBufferSize = 1024;
    uint32_t m_attemptBytes = 0;         // bytes the last ReadToFile attempt put on disk
    bool m_rangeOnRequest = false;       // the current request carries a Range header
    bool m_proxyCredentialsOnRequest = false;  // proxy credentials were set on the current request
    // The current request must not be sent again: its body read failed, or ended without a
    // length to show it was whole. Wine's WinHTTP crashes resending either (it tries to drain
    // the rest of the old body from a connection it has already let go).
    bool m_requestSpent = false;
    int m_savedCredentialRefusals = 0;   // 407s answered with saved credentials since the last 200/206
    // The platform call that ended the last ReadToFile attempt; it is logged after the line
    // that the loop writes for the failed attempt.
    struct CallFailure {
        const char* call = nullptr;
        DWORD error = 0;
    } m_readFailure;
    UniqueHandle m_completedFile;        // the file the last ReadToFile completed, held for its check
    ResumeRecordWriter m_record;         // the record that lets another run continue this download
    // Where the body that PrepareBody accepted goes: the validator and the record of a body that
    // begins the file.
    void BeginFile(DownloadItem& item);
    DWORD m_holdError = ERROR_SUCCESS;   // why it could not be held
    // The browser's ways out, read at the first fallback: every entry its auto-configuration
    // answered, in order, then its static proxy. `next` is the one in use, or to be tried next;
    // a failed send moves it on.
    struct BrowserSources {
        bool read = false;
        std::vector<ScriptEntry> entries;
        size_t next = 0;          // entries.size(): the static proxy; beyond it: none left
        std::wstring answeredBy;  // "auto-detection" or "auto-configuration script"
        std::wstring staticProxy;
        bool Left() const { return read && next <= entries.size(); }
    } m_browser;
    bool m_sessionDirect = false;          // the session has no proxy: a script said DIRECT
    DWORD m_autoProxyLimitMs = kAutoProxyLimitMs;  // tests shorten it
    unsigned char m_buffer[kBufferSize];
};
