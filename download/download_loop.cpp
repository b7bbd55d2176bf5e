#include <shlwapi.h>

#include <vector>

#include "download/call_failure.h"
#include "download/engine_ui.h"
#include "download/http_downloader.h"
#include "download/payload_check.h"
#include "support/win32_handle.h"
#include "download/portable/http_rules.h"
#include "download/retry_pause.h"
#include "download/portable/resume_record.h"
#include "support/installer_config.h"
#include "support/installer_log.h"

namespace {

// Canonicalises and splits a URL; false when it is not an http or https URL with a host.
bool CrackUrl(const std::wstring& url, uint32_t* scheme, std::wstring* host, std::wstring* object,
              uint16_t* portOut)
{
    std::vector<wchar_t> canonical(url.size() * 3 + 16);
    DWORD length = static_cast<DWORD>(canonical.size());
    HRESULT hr = UrlCanonicalizeW(url.c_str(), canonical.data(), &length, 0);
    if (hr == E_POINTER) {
        canonical.resize(length + 1);
        length = static_cast<DWORD>(canonical.size());
        hr = UrlCanonicalizeW(url.c_str(), canonical.data(), &length, 0);
    }
    if (FAILED(hr)) return false;

    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof(parts);
    parts.dwSchemeLength = static_cast<DWORD>(-1);
    parts.dwHostNameLength = static_cast<DWORD>(-1);
    parts.dwUrlPathLength = static_cast<DWORD>(-1);
    parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    if (!WinHttpCrackUrl(canonical.data(), length, 0, &parts)) {
        LogCallFailure("WinHttpCrackUrl", GetLastError());
        return false;
    }
    if (parts.dwHostNameLength == 0 || !parts.lpszHostName) return false;
    *scheme = static_cast<uint32_t>(parts.nScheme);
    host->assign(parts.lpszHostName, parts.dwHostNameLength);
    object->clear();
    if (parts.lpszUrlPath) object->append(parts.lpszUrlPath, parts.dwUrlPathLength);
    if (parts.lpszExtraInfo) object->append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    if (object->empty()) *object = L"/";
    *portOut = parts.nPort;
    return true;
}

bool QueryHeaderText(HINTERNET request, DWORD query, std::wstring* text)
{
    wchar_t buffer[128];
    DWORD size = sizeof(buffer);
    if (!WinHttpQueryHeaders(request, query, WINHTTP_HEADER_NAME_BY_INDEX, buffer, &size,
                             WINHTTP_NO_HEADER_INDEX)) {
        // A header the answer does not carry is part of the answer (a body without a length),
        // not a failure.
        const DWORD error = GetLastError();
        if (error != ERROR_WINHTTP_HEADER_NOT_FOUND) LogCallFailure("WinHttpQueryHeaders", error);
        return false;
    }
    text->assign(buffer, size / sizeof(wchar_t));
    return true;
}

// Length of the response body: false when absent or not a number.
bool QueryContentLength(HINTERNET request, uint64_t* length)
{
    std::wstring text;
    return QueryHeaderText(request, WINHTTP_QUERY_CONTENT_LENGTH, &text) &&
           ParseContentLength(text, length);
}
}  // namespace

bool CHttpDownloader2::ParseUrl(DownloadItem& item)
{
    if (CrackUrl(item.url, &serviceType, &hostName, &objectName, &port)) return true;
    item.url = L"http://" + item.url;
    return CrackUrl(item.url, &serviceType, &hostName, &objectName, &port);
}

void CHttpDownloader2::DiscardBody()
{
    DWORD got = 0;
    const DWORD ask = chunkSize < 1 ? 1 : (chunkSize > kBufferSize ? kBufferSize : chunkSize);
    for (;;) {
        if (!WinHttpReadData(request.Get(), m_buffer, ask, &got)) {
            LogCallFailure("WinHttpReadData", GetLastError());
            return;
        }
        if (got == 0) return;
    }
}

bool CHttpDownloader2::CountFailedAttempt(DownloadItem& item)
{
    if (item.retryCount > 3) return false;
    ++item.retryCount;
    if (!PauseBeforeRetry(static_cast<DWORD>(item.retryCount) * 2000u)) {
        Log("download aborted...");
        return false;
    }
    return true;
}

int CHttpDownloader2::DownloadFiles(DownloadItem* items, int count)
{
    CloseHandles();
    checkedFiles.Clear();
    ProxyAuthCount = 0;
    ProxyPromptCount = 0;
    m_savedCredentialRefusals = 0;
    bool serverCredentialsTried = false;
    if (KeepsUnfinishedDownloads()) DeleteStaleDownloads(InstallerConfig::StartDirectory);
    if (count < 1 || items == nullptr) return 1;
    for (int index = 0; index < count; ++index) {
        for (;;) {
            const Step step = AttemptItem(items[index], &serverCredentialsTried);
            if (step == Step::Done) break;
            if (step == Step::Failed) return 0;
        }
    }
    return 1;
}

// One attempt at an item: send, answer by status, read the body. A challenge that is answered,
// or a direct connection that failed and hands over to a proxy, sends again within the attempt.
CHttpDownloader2::Step CHttpDownloader2::AttemptItem(DownloadItem& item, bool* serverCredentialsTried)
{
    if (!ParseUrl(item)) return Step::Failed;
    LogWide(L"Downloading File: " + item.localPath);
    // The host itself must be the vendor's: a search anywhere in the URL would let
    // "http://elsewhere.example/?.tarvelo.com" through.
    if (!IsVendorHost(hostName)) {
        Log(std::string("Url doesnt contain ") + kVendorDomain);
        return Step::Failed;
    }
    if (!item.earlierLooked) {
        item.earlierLooked = true;
        uint32_t total = 0;
        if (KeepsUnfinishedDownloads() && TakeEarlierDownload(item, &total)) ContentLength = total;
    }

    for (;;) {
        Step result = Step::Failed;
        const Flow sent = SendRequest(item, &result);
        if (sent == Flow::Repeat) continue;
        if (sent == Flow::Stop) return result;
        DWORD status = 0;
        const Flow answered = AnswerStatus(item, serverCredentialsTried, &status, &result);
        if (answered == Flow::Repeat) continue;
        if (answered == Flow::Stop) return result;
        return ReadBody(item, status);
    }
}

CHttpDownloader2::Flow CHttpDownloader2::SendRequest(DownloadItem& item, Step* result)
{
    if (item.reconnect) {
        if (!CreateSession() || !CreateConnection() || !CreateRequest()) return Flow::Stop;
    } else if (m_requestSpent && !OpenRequestHandle()) {
        // A request whose body read failed (a receive timeout, say) or ended without a
        // length (a chunked body cut short) is not sent again: Wine's WinHTTP crashes in
        // the send. A new request on the same connection is sound on every WinHTTP.
        return Flow::Stop;
    }
    Log("Request Created...");
    SetRangeOnRequest(item);

    Log("Sending Http Request");
    if (!WinHttpSendRequest(request.Get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0)) {
        const DWORD error = GetLastError();
        if (!item.reconnect) {
            LogCallFailure("WinHttpSendRequest", error);
            LogSecureFailureIfAny();
            *result = CountFailedAttempt(item) ? Step::Restart : Step::Failed;
            return Flow::Stop;
        }
        CloseHandles();
        ProxyFallbackStep();  // its line, when it writes one, comes first
        LogCallFailure("WinHttpSendRequest", error);
        LogSecureFailureIfAny();
        return Flow::Repeat;
    }
    item.reconnect = 0;
    Log("Before HideButton");
    Progress().HideButton(FALSE, FALSE);
    Log("After HideButton");
    Log("HTTP connection establised with server..");
    if (accessType == AccessNamedProxy) SaveProxyServer();
    return Flow::Next;
}

void CHttpDownloader2::SetRangeOnRequest(const DownloadItem& item)
{
    const std::wstring range = GetRangeHeader(item.resumeOffset);
    if (!range.empty()) {
        const std::wstring headers = range + MakeIfRangeHeader(item.validator);
        if (!WinHttpAddRequestHeaders(request.Get(), headers.c_str(), static_cast<DWORD>(headers.size()),
                                      WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_REPLACE))
            LogCallFailure("WinHttpAddRequestHeaders", GetLastError());
        m_rangeOnRequest = true;
    } else if (m_rangeOnRequest) {
        // A resend of this request from the start must not keep the earlier range.
        for (const wchar_t* header : {L"Range:", L"If-Range:"})
            if (!WinHttpAddRequestHeaders(request.Get(), header, static_cast<DWORD>(-1), WINHTTP_ADDREQ_FLAG_REPLACE) &&
                GetLastError() != ERROR_WINHTTP_HEADER_NOT_FOUND)
                LogCallFailure("WinHttpAddRequestHeaders", GetLastError());
        m_rangeOnRequest = false;
    }
}

CHttpDownloader2::Flow CHttpDownloader2::AnswerStatus(DownloadItem& item, bool* serverCredentialsTried,
                                                      DWORD* status, Step* result)
{
    if (!WinHttpReceiveResponse(request.Get(), nullptr)) {
        LogCallFailure("WinHttpReceiveResponse", GetLastError());
        LogSecureFailureIfAny();
        return Flow::Stop;
    }
    DWORD size = sizeof(*status);
    if (!WinHttpQueryHeaders(request.Get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, status, &size, WINHTTP_NO_HEADER_INDEX)) {
        LogCallFailure("WinHttpQueryHeaders", GetLastError());
        return Flow::Stop;
    }
    if (*status == 407 && m_proxyCredentialsOnRequest) {
        // The proxy refused the credentials this request carried. squid holds a failed NTLM
        // or Negotiate exchange against its connection and answers every new one there with
        // a bare challenge, so the user's next answer would never be heard: this connection
        // is closed once its body is read, and the next attempt opens a new one.
        DWORD feature = WINHTTP_DISABLE_KEEP_ALIVE;
        if (!WinHttpSetOption(request.Get(), WINHTTP_OPTION_DISABLE_FEATURE, &feature, sizeof(feature)))
            LogCallFailure("WinHttpSetOption", GetLastError());
    }
    if (*status == 401 || *status == 407) {
        DiscardBody();
        const Answer answer =
            *status == 407 ? AnswerProxyChallenge() : AnswerServerChallenge(serverCredentialsTried);
        return answer == Answer::Resend ? Flow::Repeat : Flow::Stop;
    }
    const bool rangeRefused = *status == 416 && item.resumeOffset != 0;
    if (*status != 200 && *status != 206 && !rangeRefused) return Flow::Stop;
    m_savedCredentialRefusals = 0;
    if (!rangeRefused) return Flow::Next;
    const int32_t baseBefore = progressBase;
    *result = AnswerRangeRefused(item);
    if (*result == Step::Done) {
        // The file was complete before this answer: it is held from here on for its check.
        m_completedFile = HoldCompleteDownload(UniqueHandle(), item.localPath, &m_holdError);
        *result = FinishItem(item, baseBefore);
    }
    return Flow::Stop;
}

CHttpDownloader2::Step CHttpDownloader2::ReadBody(DownloadItem& item, DWORD status)
{
    const int32_t baseBefore = progressBase;
    const Step placed = PrepareBody(item, status);
    if (placed != Step::Done) return placed;

    Log("Username& Passwd matched...ready for download");
    if (accessType == AccessNamedProxy) SaveProxyCredentials();
    Log("Starting the download...");
    if (ReadToFile(item)) return FinishItem(item, baseBefore);
    if (IsAborted()) {
        Log("download aborted...");
        LogReadFailure();
        return Step::Failed;
    }
    Log("network down...retrying..");
    LogReadFailure();
    // An attempt that brought nothing is a failed send in all but name; without the same
    // pauses and limit a server that never sends the body would be asked forever.
    if (m_attemptBytes == 0) return CountFailedAttempt(item) ? Step::Restart : Step::Failed;
    return Step::Restart;
}

// An answer that cannot be trusted is dropped unread, and the file is fetched again from byte 0
// on a new request without a Range. Each such restart counts as a failed attempt, so that a
// server that answers every resume badly ends as a failure instead of being asked forever.
CHttpDownloader2::Step CHttpDownloader2::RestartFromZero(DownloadItem& item, const char* why)
{
    Log(why);
    item.resumeOffset = 0;
    m_attemptBytes = 0;
    m_requestSpent = true;
    return CountFailedAttempt(item) ? Step::Restart : Step::Failed;
}

// A file that is complete on disk: logged, and checked against its digest where it has one.
CHttpDownloader2::Step CHttpDownloader2::FinishItem(DownloadItem& item, int32_t baseBefore)
{
    LogWide(L"Download complete...FileName : " + item.localPath);
    // Complete: no other run continues it, whatever its checks find.
    m_record.Remove();
    DeleteFileW(ResumeRecordPath(item.localPath).c_str());
    item.keptForNextRun = false;
    UniqueHandle file = std::move(m_completedFile);
    if (!file.Valid()) LogCallFailure("CreateFileW", m_holdError);
    const PayloadCheck check = CheckDownloadedPayload(item, file);
    if (check == PayloadCheck::Good) {
        item.complete = true;
        checkedFiles.Keep(item.localPath, std::move(file));
        return Step::Done;
    }
    if (check == PayloadCheck::Rejected) return Step::Failed;
    progressBase = baseBefore;  // the bar steps through this file once more
    return Step::Restart;
}

// Decides where the body goes and what length it has. Done = go on reading.
CHttpDownloader2::Step CHttpDownloader2::PrepareBody(DownloadItem& item, DWORD status)
{
    ResumeFacts facts;
    facts.status = status;
    facts.resumeOffset = item.resumeOffset;
    facts.knownTotal = ContentLength;
    std::wstring text;
    facts.hasRange = status == 206 &&
                     QueryHeaderText(request.Get(), WINHTTP_QUERY_CONTENT_RANGE, &text) &&
                     ParseContentRange(text, &facts.rangeFirst, &facts.rangeTotal);
    facts.hasLength = QueryContentLength(request.Get(), &facts.length);
    // A body without a length ends only when the connection does: never send this request again.
    if (!facts.hasLength) m_requestSpent = true;

    if (item.continuingEarlier) {
        // What an earlier run left is appended only where the answer proves it continues that
        // file; anything else starts again at byte 0, a 200 with its own body, the rest on a new
        // request without a range.
        item.continuingEarlier = false;
        if (!ProvesContinuation(facts)) {
            DiscardEarlierDownload(item.localPath, status == 200 ? "the server sent the whole file"
                                                                 : "the server did not continue it");
            item.resumeOffset = 0;
            item.furthestOffset = 0;
            if (status != 200) {
                m_requestSpent = true;
                return Step::Restart;
            }
        }
    }
    if (item.resumeOffset != 0) {
        switch (ClassifyResumeAnswer(facts)) {
        case ResumeAnswer::Append:
            if (!facts.hasRange)
                Log("Range answered without Content-Range...its length is the rest, appending");
            return Step::Done;
        case ResumeAnswer::WholeFile:
            // The server sent the file from its start: appending it would corrupt the file.
            Log("Server ignored the range...downloading from the start");
            item.resumeOffset = 0;
            break;
        case ResumeAnswer::CheckOnDisk:
            return Step::Failed;  // answered by AnswerRangeRefused before the body is prepared
        case ResumeAnswer::Restart:
            return RestartFromZero(item, facts.hasRange
                                             ? "ERROR: server answered the range with another part or "
                                               "another length of the file...downloading from the start"
                                             : "ERROR: server answered the range with a part that cannot "
                                               "be placed...downloading from the start");
        }
    }

    ContentLength = 0;
    uint64_t length = facts.length;
    bool known = facts.hasLength;
    if (facts.hasRange) {
        // A part for a request that asked for the whole file: only its start can be placed,
        // and the file is complete only at the total the range names.
        if (facts.rangeFirst != 0)
            return RestartFromZero(item, "ERROR: server answered with another part of the file");
        if (facts.rangeTotal != 0) {
            length = facts.rangeTotal;
            known = true;
        }
    }
    if (known) {
        if (length > kMaxFileLength) {
            Log("ERROR: files of 2 GiB or more cannot be downloaded");
            return Step::Failed;
        }
        ContentLength = static_cast<uint32_t>(length);
        OnContentLength(ContentLength);
    }
    BeginFile(item);
    return Step::Done;
}

// The validator of the answer the file's bytes begin with, and the record that lets another run
// continue the file: kept only when the server gave both a length and a validator.
void CHttpDownloader2::BeginFile(DownloadItem& item)
{
    if (item.resumeOffset == 0) {
        std::wstring etag, lastModified;
        QueryHeaderText(request.Get(), WINHTTP_QUERY_ETAG, &etag);
        QueryHeaderText(request.Get(), WINHTTP_QUERY_LAST_MODIFIED, &lastModified);
        item.validator = ChooseValidator(etag, lastModified);
    } else if (m_record.Active() && m_record.Path() == ResumeRecordPath(item.localPath)) {
        return;  // a resume within the run: the record goes on
    }
    item.keptForNextRun = false;
    if (!KeepsUnfinishedDownloads()) return;
    if (ContentLength == 0 || item.validator.empty()) {
        m_record.Remove();
        DeleteFileW(ResumeRecordPath(item.localPath).c_str());
        return;
    }
    ResumeRecord record;
    record.address = item.url;
    record.totalLength = ContentLength;
    record.validator = item.validator;
    record.written = item.resumeOffset;
    item.keptForNextRun = m_record.Start(item.localPath, record);
}

// A 416 to a resume: there is nothing left to send, or the file on the server is now shorter.
// Only a file whose size on disk is the known total is complete.
CHttpDownloader2::Step CHttpDownloader2::AnswerRangeRefused(DownloadItem& item)
{
    m_requestSpent = true;  // its body is not read
    item.continuingEarlier = false;
    WIN32_FILE_ATTRIBUTE_DATA data{};
    const bool whole = ContentLength != 0 &&
                       GetFileAttributesExW(item.localPath.c_str(), GetFileExInfoStandard, &data) &&
                       data.nFileSizeHigh == 0 && data.nFileSizeLow == ContentLength;
    if (!whole)
        return RestartFromZero(item, "ERROR: server refused the range...downloading from the start");
    Log("Server refused the range...the file on disk is complete");
    item.resumeOffset = ContentLength;
    if (item.progressShare > 0) Progress().SetPos(item.progressShare + progressBase);
    progressBase += item.progressShare + 1;
    return Step::Done;
}

void CHttpDownloader2::LogReadFailure()
{
    if (m_readFailure.call) LogCallFailure(m_readFailure.call, m_readFailure.error);
    m_readFailure = {};
}

bool CHttpDownloader2::ReadToFile(DownloadItem& item)
{
    BytesOnDisk = item.resumeOffset;
    m_attemptBytes = 0;
    m_readFailure = {};
    m_completedFile.Reset();
    UniqueHandle file = OpenForResume(item);
    if (!file.Valid()) return false;
    int next = 0;
    const bool cleanEnd = CopyBody(file.Get(), item, &next);
    return SettleAttempt(item, std::move(file), cleanEnd, next);
}

// The item's file, cut at the resume offset and open for writing from there.
UniqueHandle CHttpDownloader2::OpenForResume(DownloadItem& item)
{
    // A read-only file is its owner's word that it stays as it is. Windows refuses to open one
    // for writing, administrators included; where the platform would let us (Wine running as
    // root) it is refused all the same, so that the outcome does not depend on who runs us.
    const DWORD attributes = GetFileAttributesW(item.localPath.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) return UniqueHandle();
    UniqueHandle file(CreateFileW(item.localPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid()) {
        m_readFailure = {"CreateFileW", GetLastError()};
        return UniqueHandle();
    }
    item.createdByThisRun = true;
    LARGE_INTEGER offset;
    offset.QuadPart = item.resumeOffset;
    if (!SetFilePointerEx(file.Get(), offset, nullptr, FILE_BEGIN)) {
        m_readFailure = {"SetFilePointerEx", GetLastError()};
        return UniqueHandle();
    }
    if (!SetEndOfFile(file.Get())) {
        m_readFailure = {"SetEndOfFile", GetLastError()};
        return UniqueHandle();
    }
    return file;
}

// Reads the body into `file` chunk by chunk, moving the bar by the item's steps. True when the
// body ended cleanly; *next receives the first step of the item's share not shown yet.
bool CHttpDownloader2::CopyBody(HANDLE file, const DownloadItem& item, int* next)
{
    const uint32_t length = ContentLength;  // 0: the server gave no length
    const int share = item.progressShare;
    const uint32_t step = item.progressStep < 1 ? 1u : static_cast<uint32_t>(item.progressStep);
    *next = FirstPendingStep(PercentOf(BytesOnDisk, length), static_cast<int>(step));
    const DWORD ask = chunkSize < 1 ? 1 : (chunkSize > kBufferSize ? kBufferSize : chunkSize);
    for (;;) {
        DWORD got = 0;
        if (!WinHttpReadData(request.Get(), m_buffer, ask, &got)) {
            m_readFailure = {"WinHttpReadData", GetLastError()};
            m_requestSpent = true;
            return false;
        }
        const bool aborted = IsAborted();
        if (got > 0 && !aborted) {
            DWORD written = 0;
            if (!WriteFile(file, m_buffer, got, &written, nullptr)) {
                m_readFailure = {"WriteFile", GetLastError()};
                return false;
            }
            if (written != got) return false;
            BytesOnDisk += got;
            m_attemptBytes += got;
            m_record.Update(BytesOnDisk);
            if (length != 0) {
                const uint32_t percent = PercentOf(BytesOnDisk, length);
                // A chunk may cross several steps of a small file; each is shown in turn.
                while (*next <= share && percent >= static_cast<uint32_t>(*next) * step) {
                    Progress().SetPos(*next + progressBase);
                    ++*next;
                }
            }
        }
        if (aborted) return false;
        if (got == 0) return true;
    }
}

// Whether the attempt completed the file, and where the next one starts if it did not.
bool CHttpDownloader2::SettleAttempt(DownloadItem& item, UniqueHandle file, bool cleanEnd, int next)
{
    const uint32_t length = ContentLength;
    const int share = item.progressShare;
    // Without a digest the size on disk is the only proof that the file is whole: it must be
    // exactly the total the server gave, not merely what this answer's body brought.
    LARGE_INTEGER onDisk{};
    const bool sized = GetFileSizeEx(file.Get(), &onDisk) != FALSE;
    if (length == 0) m_requestSpent = true;

    if (length != 0 && sized && static_cast<uint64_t>(onDisk.QuadPart) > length) {
        // More than the whole file: the answers did not fit together. Nothing of it can be
        // trusted, and the attempt counts as one that brought nothing.
        Log("ERROR: file on disk is longer than the file on the server...downloading from the start");
        item.resumeOffset = 0;
        m_attemptBytes = 0;
        return false;
    }
    const bool whole = sized && static_cast<uint64_t>(onDisk.QuadPart) == length;
    const bool complete = !IsAborted() && (length != 0 ? whole : cleanEnd);
    // A complete file goes straight from this handle to the one it is checked through and held by.
    if (complete) m_completedFile = HoldCompleteDownload(std::move(file), item.localPath, &m_holdError);
    file.Reset();
    if (!complete) {
        // Without a length there is no range to ask for: the next attempt starts again.
        item.resumeOffset = length != 0 && sized ? static_cast<uint32_t>(onDisk.QuadPart) : 0;
        // Only an attempt that took the file further than ever before earns fresh retries: a
        // server that claims more than it has and answers every resume from the start would
        // otherwise hand over the same megabytes again and again, and the loop never ends.
        if (m_attemptBytes >= 0x100000 && BytesOnDisk > item.furthestOffset) item.retryCount = 0;
        if (BytesOnDisk > item.furthestOffset) item.furthestOffset = BytesOnDisk;
        return false;
    }
    if (length == 0) {
        // No length, no percentages: the whole share is reached when the body ends.
        if (share > 0) Progress().SetPos(share + progressBase);
        next = share + 1;
    }
    progressBase += next;
    return true;
}
