// Proxy fallback, the saved proxy file and proxy authentication, against squid on loopback.
#include <windows.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "download/auto_proxy_lookup.h"
#include "download/http_downloader.h"
#include "download/portable/script_child_pipe.h"
#include "download/script_child.h"
#include "download/script_sandbox.h"
#include "app/progress_link.h"
#include "app/proxy_prompts.h"
#include "download/retry_pause.h"
#include "framework/app.h"
#include "resources/resource.h"
#include "support/dialog_driver.h"
#include "support/localized_text.h"
#include "support/net_env.h"

using namespace dialog_driver;

namespace {
// The real dialogs need the text table and the skin of the run folder.
const auto* const g_env = ::testing::AddGlobalTestEnvironment(new RunFolderEnvironment);

// What a driver saw of one real prompt: its message and the notice beside it (empty: none).
struct Seen {
    std::wstring message, noticeHeadline, noticeMessage;
};

HWND VisibleNotice()
{
    for (HWND w : ProcessDialogs())
        if (GetDlgItem(w, SignatureControl(IDD_SMALLER_DIALOG))) return w;
    return nullptr;
}

// Waits for the prompt made from `templateId`, notes what it shows, types the two texts and
// presses its Continue button; false when no prompt came or it did not close.
bool AnswerPrompt(UINT templateId, int firstEdit, const std::wstring& first, int secondEdit,
                  const std::wstring& second, int continueButton, std::vector<Seen>* seen)
{
    HWND dialog = WaitForDialog(templateId);
    if (!dialog) return false;
    Seen s;
    s.message = ControlText(dialog, IDC_BODY);
    // The notice is shown before the prompt runs, so it is there by now when it exists at all.
    if (HWND notice = VisibleNotice()) {
        s.noticeHeadline = ControlText(notice, IDC_SMALL_HEADLINE);
        s.noticeMessage = ControlText(notice, IDC_BODY);
    }
    seen->push_back(s);
    SetEditText(dialog, firstEdit, first);
    SetEditText(dialog, secondEdit, second);
    ClickButton(dialog, continueButton);
    return WaitForClosed(dialog);
}

bool AnswerCredentialsDialog(const std::wstring& user, const std::wstring& password, std::vector<Seen>* seen)
{
    return AnswerPrompt(IDD_CRED_UI_DIALOG, IDC_USER_NAME, user, IDC_PASSWORD, password, IDOK, seen);
}

bool AnswerProxyDialog(const std::wstring& server, const std::wstring& port, std::vector<Seen>* seen)
{
    return AnswerPrompt(IDD_PROXY_INFO_DIALOG, IDC_PROXY_SERVER, server, IDC_PROXY_PORT, port, IDC_CONTINUE, seen);
}

// Runs `download` on this thread while `answers` drives its dialogs from a second one. When the
// answers go wrong, every dialog of the process is closed until the download gives up, so a
// failing test ends instead of waiting on a prompt nobody answers.
int RunWithRealDialogs(const std::function<int()>& download, const std::function<bool()>& answers, bool* answered)
{
    std::atomic<bool> finished{false};
    const INT_PTR result = RunDriven(
        [&] {
            const int r = download();
            finished.store(true);
            return static_cast<INT_PTR>(r);
        },
        [&] {
            if (answers()) return true;
            WaitUntil([&] {
                for (HWND w : ProcessDialogs()) PostClose(w);
                return finished.load();
            });
            return false;
        },
        answered);
    return static_cast<int>(result);
}
struct ProxyAnswer {
    INT_PTR result;
    std::wstring server, port;
};
struct CredentialAnswer {
    bool closed;
    INT_PTR result;
    std::wstring user, password;
};
std::deque<ProxyAnswer> g_proxyAnswers;
std::deque<CredentialAnswer> g_credentialAnswers;
std::vector<bool> g_proxyPromptNotices, g_credentialPromptNotices;

INT_PTR AnswerProxy(bool notice, std::wstring* server, std::wstring* port)
{
    g_proxyPromptNotices.push_back(notice);
    if (g_proxyAnswers.empty()) return 0;
    const ProxyAnswer a = g_proxyAnswers.front();
    g_proxyAnswers.pop_front();
    *server = a.server;
    *port = a.port;
    return a.result;
}
bool AnswerCredentials(bool notice, std::wstring* user, std::wstring* password, INT_PTR* modal)
{
    g_credentialPromptNotices.push_back(notice);
    if (g_credentialAnswers.empty()) {
        *modal = 0;
        return false;
    }
    const CredentialAnswer a = g_credentialAnswers.front();
    g_credentialAnswers.pop_front();
    *modal = a.result;
    if (a.closed) return false;
    *user = a.user;
    *password = a.password;
    return true;
}
bool NoPause(DWORD) { return true; }

// True when one line of `text` holds every one of `parts`.
bool HasLine(const std::string& text, const std::vector<std::string>& parts)
{
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(start, end - start);
        bool all = true;
        for (const std::string& part : parts) all = all && line.find(part) != std::string::npos;
        if (all) return true;
        start = end + 1;
    }
    return false;
}

// squid writes its access log a moment after the answer has gone out, so a line is waited for.
bool AccessLogGets(const wchar_t* squidFolder, const std::vector<std::string>& parts)
{
    const std::wstring path = NetEnv::Work() + L"\\" + squidFolder + L"\\access.log";
    return WaitUntil([&] {
        const std::vector<char> access = NetEnv::ReadAll(path);
        return HasLine(std::string(access.begin(), access.end()), parts);
    });
}

std::wstring Wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }
bool Contains(const std::string& haystack, const std::string& needle)
{
    return haystack.find(needle) != std::string::npos;
}

// Records the scheme each 407 was answered with.
class RecordingDownloader : public CHttpDownloader2 {
public:
    RecordingDownloader() : CHttpDownloader2(false) {}
    int SetProxyCredentials(uint32_t scheme) override
    {
        schemes.push_back(scheme);
        return CHttpDownloader2::SetProxyCredentials(scheme);
    }
    std::vector<uint32_t> schemes;
};

class Proxy : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!NetEnv::Available()) GTEST_SKIP() << "run through tests/servers/run_nettest.py";
        NetEnv::UseOwnTemp();
        NetEnv::ResetDownloadState();
        g_proxyAnswers.clear();
        g_credentialAnswers.clear();
        g_proxyPromptNotices.clear();
        g_credentialPromptNotices.clear();
        ProgressLink::SetWaitLimitForTesting(0);
        SetRetryPauseHookForTesting(&NoPause);
        SetPromptHooksForTesting(&AnswerProxy, &AnswerCredentials);
        nginx = NetEnv::Port("TARVELO_NGINX_PORT");
        fault = NetEnv::Port("TARVELO_FAULT_PORT");
        squid = NetEnv::Port("TARVELO_SQUID_PORT");
        user = Wide(NetEnv::Unix("TARVELO_PROXY_USER"));
        password = Wide(NetEnv::Unix("TARVELO_PROXY_PASSWORD"));
        out = NetEnv::Work() + L"\\proxy";
        CreateDirectoryW(out.c_str(), nullptr);
        proxyFile = out + L"\\" + Wide(::testing::UnitTest::GetInstance()->current_test_info()->name()) + L".proxy";
        DeleteFileW(proxyFile.c_str());
        // The direct attempt goes to a closed loopback port and fails at once.
        SetEnvironmentVariableW(L"http_proxy", L"http://127.0.0.1:9");
        _putenv("http_proxy=http://127.0.0.1:9");
    }
    void TearDown() override
    {
        NetEnv::SetBrowserProxy(1, "");
        SetScriptChildProgramForTesting(nullptr);
        SetEnvironmentVariableW(L"http_proxy", nullptr);
        _putenv("http_proxy=");
        AbortRequested.store(false);
    }
    void UseProxyFile() { wcscpy_s(SavedProxyFilePath, proxyFile.c_str()); }
    DownloadItem Item(int port, const std::wstring& path, const std::wstring& name)
    {
        DownloadItem item;
        item.url = NetEnv::Url(port, path);
        item.localPath = out + L"\\" + name;
        item.folder = out;
        item.progressShare = 100;
        item.progressStep = 1;
        DeleteFileW(item.localPath.c_str());
        return item;
    }
    std::string ProxyFileText()
    {
        const std::vector<char> bytes = NetEnv::ReadAll(proxyFile);
        return std::string(bytes.begin(), bytes.end());
    }
    std::string Expected(int port)
    {
        return "ProxyServer=http://127.0.0.1:" + std::to_string(port) + "|@|UserName=" +
               NetEnv::Unix("TARVELO_PROXY_USER") + "|@|Password=" + NetEnv::Unix("TARVELO_PROXY_PASSWORD") +
               "|@|ByPass=<local>";
    }

    int nginx = 0, fault = 0, squid = 0;
    std::wstring user, password, out, proxyFile;
};

TEST_F(Proxy, ConstructorBuildsTheSavedProxyFilePathOnly)
{
    wchar_t folder[MAX_PATH] = L"";
    ASSERT_TRUE(SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, 0, folder)));
    CHttpDownloader2 downloader(false);
    EXPECT_EQ(std::wstring(SavedProxyFilePath), std::wstring(folder) + L"\\ProxyInfo.proxy");
    EXPECT_FALSE(downloader.session);
    EXPECT_EQ(downloader.acceptTypes, L"*/*");
    EXPECT_EQ(downloader.chunkSize, 1024u);
}

TEST_F(Proxy, CreateSessionKeepsAnOpenSessionAndOpensNothingOnceAborted)
{
    {
        CHttpDownloader2 downloader(false);
        ASSERT_EQ(downloader.CreateSession(), 1);
        const HINTERNET first = downloader.session.Get();
        ASSERT_NE(first, nullptr);
        EXPECT_EQ(downloader.CreateSession(), 1);
        EXPECT_EQ(downloader.session.Get(), first);
    }
    {
        CHttpDownloader2 downloader(false);
        AbortRequested.store(true);
        EXPECT_EQ(downloader.CreateSession(), 1);
        EXPECT_FALSE(downloader.session);
        downloader.hostName = L"dl.tarvelo.com";
        downloader.port = 80;
        EXPECT_EQ(downloader.CreateConnection(), 0);
    }
}

TEST_F(Proxy, BrowserProxyIsTakenWithOrWithoutItsOwnSchemeAndFromAPerProtocolList)
{
    const std::string bare = "127.0.0.1:" + std::to_string(squid);
    for (const std::string& configured : {bare, "http://" + bare, "http=" + bare + ";https=127.0.0.1:9"}) {
        SCOPED_TRACE(configured);
        NetEnv::ResetDownloadState();
        g_credentialPromptNotices.clear();
        DeleteFileW(proxyFile.c_str());
        ASSERT_TRUE(NetEnv::SetBrowserProxy(2, configured));
        g_credentialAnswers = {{false, 1, user, password}};
        CHttpDownloader2 downloader(false);
        UseProxyFile();
        DownloadItem item = Item(nginx, L"/big.bin", L"browser.bin");
        ASSERT_EQ(downloader.DownloadFiles(&item, 1), 1);
        EXPECT_TRUE(NetEnv::SameBytes(item.localPath, NetEnv::Served(L"big.bin")));
        EXPECT_EQ(downloader.accessType, 2);
        EXPECT_EQ(downloader.proxy, L"http://" + Wide(bare));
        EXPECT_EQ(g_credentialPromptNotices, std::vector<bool>{false});
        EXPECT_TRUE(g_proxyPromptNotices.empty());
        EXPECT_EQ(ProxyFileText(), Expected(squid));
    }
    const std::string log = NetEnv::InstallerLogText();
    EXPECT_TRUE(Contains(log, "direct connection failed...trying proxy"));
    EXPECT_FALSE(Contains(log, NetEnv::Unix("TARVELO_PROXY_PASSWORD")));
    EXPECT_FALSE(Contains(log, NetEnv::Unix("TARVELO_PROXY_USER")));
    const std::vector<char> access = NetEnv::ReadAll(NetEnv::Work() + L"\\squid\\access.log");
    EXPECT_TRUE(Contains(std::string(access.begin(), access.end()), " " + NetEnv::Unix("TARVELO_PROXY_USER") + " "));
}

TEST_F(Proxy, WrongCredentialsAreAskedAgainWithTheNoticeThenSavedAndReused)
{
    // The real credentials dialog, answered as a user would: a wrong password first.
    SetPromptHooksForTesting(nullptr, nullptr);
    ASSERT_TRUE(NetEnv::SetBrowserProxy(2, "127.0.0.1:" + std::to_string(squid)));
    CHttpDownloader2 downloader(false);
    UseProxyFile();
    DownloadItem items[2] = {Item(nginx, L"/small.bin", L"cred1.bin"), Item(nginx, L"/stage2.bin", L"cred2.bin")};
    std::vector<Seen> seen;
    bool answered = false;
    const int result = RunWithRealDialogs([&] { return downloader.DownloadFiles(items, 2); },
                                          [&] {
                                              return AnswerCredentialsDialog(user, L"wrong", &seen) &&
                                                     AnswerCredentialsDialog(user, password, &seen);
                                          },
                                          &answered);
    ASSERT_TRUE(answered) << "the credentials dialog was not shown twice";
    ASSERT_EQ(result, 1);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].message, Text(L"CREDENTIAL_DETAILS"));
    EXPECT_EQ(seen[0].noticeMessage, L"");
    EXPECT_EQ(seen[1].message, Text(L"CREDENTIAL_DETAILS"));
    EXPECT_EQ(seen[1].noticeHeadline, Text(L"PROXY_CAPTION"));
    EXPECT_EQ(seen[1].noticeMessage, Text(L"CREDENTIAL_ERROR"));
    EXPECT_EQ(VisibleNotice(), nullptr) << "the notice outlived its prompt";
    EXPECT_FALSE(ProxyCredentialsPromptPending);
    EXPECT_FALSE(AbortRequested.load());
    EXPECT_TRUE(NetEnv::SameBytes(items[0].localPath, NetEnv::Served(L"small.bin")));
    EXPECT_TRUE(NetEnv::SameBytes(items[1].localPath, NetEnv::Served(L"stage2.bin")));

    // A later call through the same proxy needs no dialog either (the hooks would record one).
    SetPromptHooksForTesting(&AnswerProxy, &AnswerCredentials);
    DownloadItem again = Item(nginx, L"/msi.bin", L"cred3.bin");
    ASSERT_EQ(downloader.DownloadFiles(&again, 1), 1);
    EXPECT_TRUE(g_credentialPromptNotices.empty());
    EXPECT_TRUE(NetEnv::SameBytes(again.localPath, NetEnv::Served(L"msi.bin")));
    EXPECT_EQ(ProxyFileText(), Expected(squid));

    // The requests reached the origin through the proxy, which took the user's credentials.
    EXPECT_TRUE(AccessLogGets(L"squid", {"/msi.bin "}));
    const std::vector<char> access = NetEnv::ReadAll(NetEnv::Work() + L"\\squid\\access.log");
    const std::string squidLog(access.begin(), access.end());
    const std::vector<char> origin = NetEnv::ReadAll(NetEnv::Work() + L"\\nginx\\access.log");
    const std::string originLog(origin.begin(), origin.end());
    for (const char* path : {"/small.bin", "/stage2.bin", "/msi.bin"}) {
        SCOPED_TRACE(path);
        EXPECT_TRUE(HasLine(squidLog, {"TCP_MISS/200 ", std::string(path) + " " + NetEnv::Unix("TARVELO_PROXY_USER") +
                                                            " HIER_DIRECT/127.0.0.1 "}));
        EXPECT_TRUE(Contains(originLog, std::string("\"GET ") + path + " HTTP/1.1\" 200 "));
    }
}

TEST_F(Proxy, ClosingTheCredentialsDialogFailsAndRequestsTheAbort)
{
    ASSERT_TRUE(NetEnv::SetBrowserProxy(2, "127.0.0.1:" + std::to_string(squid)));
    g_credentialAnswers = {{true, 0, L"", L""}};
    CHttpDownloader2 downloader(false);
    UseProxyFile();
    DownloadItem item = Item(nginx, L"/small.bin", L"closed.bin");
    EXPECT_EQ(downloader.DownloadFiles(&item, 1), 0);
    EXPECT_TRUE(AbortRequested.load());
    // Only the server piece: no answer came through the proxy.
    EXPECT_EQ(ProxyFileText(), "ProxyServer=http://127.0.0.1:" + std::to_string(squid) + "|@|");
}

TEST_F(Proxy, DigestIsChosenOverBasic)
{
    // Wine's WinHTTP never sends Digest credentials, so this stops at the choice: the second
    // 407 is answered by closing the dialog.
    const int digestSquid = NetEnv::Port("TARVELO_SQUID_DIGEST_PORT");
    ASSERT_TRUE(NetEnv::SetBrowserProxy(2, "127.0.0.1:" + std::to_string(digestSquid)));
    g_credentialAnswers = {{false, 1, user, password}, {true, 0, L"", L""}};
    RecordingDownloader downloader;
    UseProxyFile();
    DownloadItem item = Item(nginx, L"/small.bin", L"digest.bin");
    downloader.DownloadFiles(&item, 1);
    ASSERT_FALSE(downloader.schemes.empty());
    EXPECT_EQ(downloader.schemes[0], 0x8u);
}

TEST_F(Proxy, UsersProxyIsAskedAgainWithTheNoticeWhenItFailsThenAppendedToTheFile)
{
    // The real proxy settings dialog: first a proxy where nothing listens, then squid.
    SetPromptHooksForTesting(nullptr, nullptr);
    ASSERT_TRUE(NetEnv::SetBrowserProxy(1, ""));
    NetEnv::WriteAll(proxyFile, {'O', 'L', 'D', '|'});
    CHttpDownloader2 downloader(false);
    UseProxyFile();
    DownloadItem item = Item(nginx, L"/big.bin", L"userproxy.bin");
    std::vector<Seen> proxySeen, credentialsSeen;
    bool answered = false;
    const int result = RunWithRealDialogs([&] { return downloader.DownloadFiles(&item, 1); },
                                          [&] {
                                              return AnswerProxyDialog(L"  127.0.0.1 ", L" 9 ", &proxySeen) &&
                                                     AnswerProxyDialog(L"http://127.0.0.1", std::to_wstring(squid),
                                                                       &proxySeen) &&
                                                     AnswerCredentialsDialog(user, password, &credentialsSeen);
                                          },
                                          &answered);
    ASSERT_TRUE(answered) << "the proxy and credentials dialogs did not come as expected";
    ASSERT_EQ(result, 1);
    EXPECT_TRUE(NetEnv::SameBytes(item.localPath, NetEnv::Served(L"big.bin")));
    ASSERT_EQ(proxySeen.size(), 2u);
    EXPECT_EQ(proxySeen[0].message, Text(L"PROVIDE_PROXY_DETAIL"));
    EXPECT_EQ(proxySeen[0].noticeMessage, L"");
    EXPECT_EQ(proxySeen[1].message, Text(L"PROVIDE_PROXY_DETAIL"));
    EXPECT_EQ(proxySeen[1].noticeHeadline, Text(L"PROXY_CAPTION"));
    EXPECT_EQ(proxySeen[1].noticeMessage, Text(L"PROXY_SERVER_ERROR"));
    ASSERT_EQ(credentialsSeen.size(), 1u);
    EXPECT_EQ(credentialsSeen[0].noticeMessage, L"");
    EXPECT_EQ(VisibleNotice(), nullptr) << "the notice outlived its prompt";
    EXPECT_EQ(ProxyPromptCount, 2);
    SetPromptHooksForTesting(&AnswerProxy, &AnswerCredentials);
    EXPECT_EQ(downloader.proxyServerText, L"http://127.0.0.1");
    EXPECT_EQ(downloader.proxy, L"http://127.0.0.1:" + std::to_wstring(squid));
    EXPECT_EQ(ProxyFileText(), "OLD|" + Expected(squid));
    // A proxy has been saved: the user is not asked again (the hook would record a prompt).
    EXPECT_EQ(downloader.GetProxyFromUser(), 0);
    EXPECT_TRUE(g_proxyPromptNotices.empty());
    EXPECT_FALSE(AbortRequested.load());
}

TEST_F(Proxy, CancelledProxyDialogRequestsTheAbortAndOneThatCannotBeShownFailsOnce)
{
    ASSERT_TRUE(NetEnv::SetBrowserProxy(1, ""));
    g_proxyAnswers = {{0, L"", L""}};
    CHttpDownloader2 downloader(false);
    UseProxyFile();
    DownloadItem item = Item(nginx, L"/small.bin", L"cancelled.bin");
    EXPECT_EQ(downloader.DownloadFiles(&item, 1), 0);
    EXPECT_TRUE(AbortRequested.load());
    EXPECT_EQ(GetFileAttributesW(proxyFile.c_str()), INVALID_FILE_ATTRIBUTES);

    // A dialog that cannot be shown at all fails the download once, without an abort, instead
    // of being asked for again and again.
    NetEnv::ResetDownloadState();
    g_proxyPromptNotices.clear();
    g_proxyAnswers = {{-1, L"", L""}, {-1, L"", L""}};
    CHttpDownloader2 again(false);
    DownloadItem second = Item(nginx, L"/small.bin", L"unshown.bin");
    EXPECT_EQ(again.DownloadFiles(&second, 1), 0);
    EXPECT_FALSE(AbortRequested.load());
    EXPECT_EQ(g_proxyPromptNotices.size(), 1u);
    EXPECT_TRUE(Contains(NetEnv::InstallerLogText(), "ERROR: the proxy settings dialog could not be shown"));
}

TEST_F(Proxy, ProxyRefusingSavedCredentialsGetsThreeMoreTries)
{
    ASSERT_TRUE(NetEnv::SetBrowserProxy(2, "127.0.0.1:" + std::to_string(fault)));
    g_credentialAnswers = {{false, 1, user, password}};
    CHttpDownloader2 downloader(false);
    UseProxyFile();
    DownloadItem items[2] = {Item(fault, L"/small.bin?proxyauth=basic", L"refuse1.bin"),
                             Item(fault, L"/small.bin?proxyauth=basic&refuse=1", L"refuse2.bin")};
    EXPECT_EQ(downloader.DownloadFiles(items, 2), 0);
    EXPECT_TRUE(NetEnv::SameBytes(items[0].localPath, NetEnv::Served(L"small.bin")));
    EXPECT_EQ(g_credentialPromptNotices.size(), 1u);
    // The new request's first 407 is the proxy's challenge; the saved credentials answer it and
    // the next two refusals, and the fourth 407 ends the download. Wine's WinHTTP sends each new
    // set of credentials once without them before it answers the 407 itself, so the requests
    // that carried credentials are counted, not all of them.
    size_t withCredentials = 0;
    for (const std::string& line : NetEnv::FaultRequests("/small.bin?proxyauth=basic&refuse=1 "))
        if (Contains(line, "auth=yes")) ++withCredentials;
    EXPECT_EQ(withCredentials, 3u);
    const std::string log = NetEnv::InstallerLogText();
    const size_t second = log.find("refuse2.bin");
    ASSERT_NE(second, std::string::npos);
    const size_t end = log.find("ERROR: proxy keeps refusing the saved credentials", second);
    ASSERT_NE(end, std::string::npos);
    size_t sends = 0;
    for (size_t at = log.find("Sending Http Request", second); at < end; at = log.find("Sending Http Request", at + 1))
        ++sends;
    EXPECT_EQ(sends, 4u);
}

// A proxy auto-configuration script on the fault server that answers `answer` for the vendor's
// hosts (and DIRECT for others).
std::string ScriptUrl(int port, const std::string& answer)
{
    std::string query;
    for (char c : answer) query += c == ' ' ? std::string("%20") : c == ';' ? std::string("%3B") : std::string(1, c);
    return "http://127.0.0.1:" + std::to_string(port) + "/__pac?answer=" + query;
}

// Each of `expected` is a whole line of `log`, in this order; other lines may come between.
::testing::AssertionResult InOrder(const std::string& log, const std::vector<std::string>& expected)
{
    std::vector<std::string> lines;
    for (size_t start = 0; start < log.size();) {
        size_t end = log.find("\r\n", start);
        if (end == std::string::npos) end = log.size();
        lines.push_back(log.substr(start, end - start));
        start = end + 2;
    }
    auto at = lines.begin();
    for (const std::string& line : expected) {
        at = std::find(at, lines.end(), line);
        if (at == lines.end()) return ::testing::AssertionFailure() << "no line \"" << line << "\" in its place in:\n" << log;
        ++at;
    }
    return ::testing::AssertionSuccess();
}

size_t Count(const std::string& haystack, const std::string& needle)
{
    size_t count = 0;
    for (size_t at = haystack.find(needle); at != std::string::npos; at = haystack.find(needle, at + 1)) ++count;
    return count;
}

TEST_F(Proxy, BrowsersScriptComesBeforeItsStaticProxyAndAutoDetectionBeforeBoth)
{
    const std::string squidProxy = "127.0.0.1:" + std::to_string(squid);
    // Auto-detection finds nothing here (no WPAD host), so each configuration ends at the script;
    // the static proxy, a closed port, is never tried.
    for (unsigned flags : {4u | 2u, 8u | 4u | 2u}) {
        SCOPED_TRACE(flags);
        NetEnv::ResetDownloadState();
        DeleteFileW(proxyFile.c_str());
        ASSERT_TRUE(NetEnv::SetBrowserProxy(flags, "127.0.0.1:9", ScriptUrl(fault, "PROXY " + squidProxy)));
        g_credentialAnswers = {{false, 1, user, password}};
        CHttpDownloader2 downloader(false);
        UseProxyFile();
        DownloadItem item = Item(nginx, L"/small.bin", L"script.bin");
        ASSERT_EQ(downloader.DownloadFiles(&item, 1), 1);
        EXPECT_TRUE(NetEnv::SameBytes(item.localPath, NetEnv::Served(L"small.bin")));
        EXPECT_EQ(downloader.proxy, L"http://" + Wide(squidProxy));
        EXPECT_TRUE(g_proxyPromptNotices.empty());
        EXPECT_EQ(ProxyFileText(), Expected(squid));
    }
    const std::string log = NetEnv::InstallerLogText();
    EXPECT_TRUE(Contains(log, "\r\nProxy from auto-configuration script: " + squidProxy + "\r\n"));
    // Without a WPAD host the detection's failure is named, and the script is used after it.
    const size_t failed = log.find("WinHttpDetectAutoProxyConfigUrl failed with error 12180\r\n");
    ASSERT_NE(failed, std::string::npos);
    EXPECT_NE(log.find("Proxy from auto-configuration script: ", failed), std::string::npos);
}

TEST_F(Proxy, ScriptsDirectGoesWithoutAProxyAndOneOutOfReachHandsOnToTheStaticProxyThenToTheUser)
{
    const std::string squidProxy = "127.0.0.1:" + std::to_string(squid);
    NetEnv::InstallerLogText();
    // A proxy that refuses, then DIRECT for the host: the file comes without any proxy, before
    // the static one, and nothing is saved for the second stage.
    ASSERT_TRUE(NetEnv::SetBrowserProxy(4 | 2, squidProxy, ScriptUrl(fault, "PROXY 127.0.0.1:9; DIRECT")));
    {
        CHttpDownloader2 downloader(false);
        UseProxyFile();
        DownloadItem item = Item(nginx, L"/small.bin", L"direct-answer.bin");
        ASSERT_EQ(downloader.DownloadFiles(&item, 1), 1);
        EXPECT_TRUE(NetEnv::SameBytes(item.localPath, NetEnv::Served(L"small.bin")));
        EXPECT_EQ(downloader.proxy, L"");
        EXPECT_EQ(GetFileAttributesW(proxyFile.c_str()), INVALID_FILE_ATTRIBUTES);
        EXPECT_TRUE(ProxyPromptPending);
        EXPECT_TRUE(g_proxyPromptNotices.empty());
    }
    EXPECT_TRUE(InOrder(NetEnv::InstallerLogText(),
                        {"direct connection failed...trying proxy", "Proxy from auto-configuration script: 127.0.0.1:9",
                         "WinHttpSendRequest failed with error 12029", "Proxy from auto-configuration script: DIRECT",
                         "HTTP connection establised with server.."}));
    EXPECT_TRUE(AccessLogGets(L"nginx", {"\"GET /small.bin HTTP/1.1\" 200 "}));

    // A script that cannot be fetched hands on to the static proxy.
    NetEnv::ResetDownloadState();
    ASSERT_TRUE(NetEnv::SetBrowserProxy(4 | 2, squidProxy, "http://127.0.0.1:9/proxy.pac"));
    g_credentialAnswers = {{false, 1, user, password}};
    {
        CHttpDownloader2 downloader(false);
        DownloadItem item = Item(nginx, L"/small.bin", L"static-next.bin");
        ASSERT_EQ(downloader.DownloadFiles(&item, 1), 1);
        EXPECT_EQ(downloader.proxy, L"http://" + Wide(squidProxy));
        EXPECT_TRUE(g_proxyPromptNotices.empty());
    }
    EXPECT_TRUE(InOrder(NetEnv::InstallerLogText(),
                        {"direct connection failed...trying proxy", "Proxy auto-configuration script not fetched",
                         "WinHttpSendRequest failed with error 12029", "HTTP connection establised with server.."}));

    // Scripts that cannot be fetched (out of reach, missing, too long to be one), and one that
    // is no script: without a static proxy the user is asked, as before.
    const std::string unreachable = "http://127.0.0.1:9/proxy.pac";
    const std::string missing = "http://127.0.0.1:" + std::to_string(fault) + "/small.bin?status=404";
    const std::string tooLong = "http://127.0.0.1:" + std::to_string(nginx) + "/dotnet.bin";
    const std::string garbage = "http://127.0.0.1:" + std::to_string(fault) + "/small.bin";
    for (const std::string& script : {unreachable, missing, tooLong, garbage}) {
        SCOPED_TRACE(script);
        NetEnv::ResetDownloadState();
        g_proxyPromptNotices.clear();
        ASSERT_TRUE(NetEnv::SetBrowserProxy(4, "", script));
        CHttpDownloader2 downloader(false);
        DownloadItem item = Item(nginx, L"/small.bin", L"no-script.bin");
        EXPECT_EQ(downloader.DownloadFiles(&item, 1), 0);
        EXPECT_EQ(g_proxyPromptNotices, std::vector<bool>{false});
    }
    // Each failure is named: the fetch's, and for the one that does not run, the script
    // engine's and then WinHTTP's own (12166 on Windows, a code of Wine's own here).
    const std::string log = NetEnv::InstallerLogText();
    EXPECT_TRUE(InOrder(log, {"Proxy auto-configuration script not fetched", "WinHttpSendRequest failed with error 12029",
                              "Proxy auto-configuration script not fetched", "HTTP status 404",
                              "Proxy auto-configuration script not fetched", "Longer than 1048576 bytes"}));
    const size_t engine = log.find("InternetGetProxyInfo failed with error ");
    ASSERT_NE(engine, std::string::npos) << log;
    EXPECT_NE(log.find("WinHttpGetProxyForUrl failed with error ", engine), std::string::npos) << log;
    EXPECT_FALSE(Contains(log, "Proxy from auto-configuration script"));
}

TEST_F(Proxy, ScriptsListIsTriedInOrderUntilASendGoesThroughAndTheProxyThatWorkedStays)
{
    const std::string live = "127.0.0.1:" + std::to_string(squid);
    NetEnv::InstallerLogText();
    // Two proxies that refuse, one of a kind a session cannot use, then squid; the static proxy
    // and DIRECT are never reached.
    ASSERT_TRUE(NetEnv::SetBrowserProxy(
        4 | 2, "127.0.0.1:9",
        ScriptUrl(fault, "PROXY 127.0.0.1:9; SOCKS5 127.0.0.1:1080;PROXY localhost:9 ; PROXY " + live + "; DIRECT")));
    g_credentialAnswers = {{false, 1, user, password}};
    CHttpDownloader2 downloader(false);
    UseProxyFile();
    DownloadItem items[2] = {Item(nginx, L"/small.bin", L"list1.bin"), Item(nginx, L"/stage2.bin", L"list2.bin")};
    ASSERT_EQ(downloader.DownloadFiles(items, 2), 1);
    EXPECT_TRUE(NetEnv::SameBytes(items[0].localPath, NetEnv::Served(L"small.bin")));
    EXPECT_TRUE(NetEnv::SameBytes(items[1].localPath, NetEnv::Served(L"stage2.bin")));
    EXPECT_EQ(downloader.proxy, L"http://" + Wide(live));
    EXPECT_TRUE(g_proxyPromptNotices.empty());
    EXPECT_EQ(ProxyFileText(), Expected(squid));
    // A later call goes through the proxy that worked, not through the entry after it.
    DownloadItem again = Item(nginx, L"/msi.bin", L"list3.bin");
    ASSERT_EQ(downloader.DownloadFiles(&again, 1), 1);
    EXPECT_EQ(downloader.proxy, L"http://" + Wide(live));
    EXPECT_TRUE(AccessLogGets(L"squid", {"TCP_MISS/200 ", "/msi.bin "}));

    const std::string log = NetEnv::InstallerLogText();
    EXPECT_TRUE(InOrder(log, {"direct connection failed...trying proxy", "WinHttpSendRequest failed with error 12029",
                              "Proxy from auto-configuration script: 127.0.0.1:9",
                              "WinHttpSendRequest failed with error 12029",
                              "Proxy from auto-configuration script skipped, SOCKS is not supported: SOCKS5 127.0.0.1:1080",
                              "Proxy from auto-configuration script: localhost:9",
                              "WinHttpSendRequest failed with error 12029",
                              "Proxy from auto-configuration script: " + live, "HTTP connection establised with server..",
                              "Proxy from auto-configuration script: " + live, "HTTP connection establised with server.."}));
    EXPECT_EQ(Count(log, "Proxy from auto-configuration script: 127.0.0.1:9\r\n"), 1u);
    EXPECT_EQ(Count(log, "WinHttpSendRequest failed"), 3u);
    EXPECT_FALSE(Contains(log, ": DIRECT"));
}

TEST_F(Proxy, ScriptsListThatAllFailsHandsOnToTheStaticProxyThenToTheUser)
{
    NetEnv::InstallerLogText();
    ASSERT_TRUE(NetEnv::SetBrowserProxy(4 | 2, "127.0.0.1:9", ScriptUrl(fault, "PROXY localhost:9;PROXY 127.0.0.1:9")));
    g_proxyAnswers = {{IDC_CONTINUE, L"127.0.0.1", std::to_wstring(squid)}};
    g_credentialAnswers = {{false, 1, user, password}};
    CHttpDownloader2 downloader(false);
    UseProxyFile();
    DownloadItem item = Item(nginx, L"/small.bin", L"all-fail.bin");
    ASSERT_EQ(downloader.DownloadFiles(&item, 1), 1);
    EXPECT_TRUE(NetEnv::SameBytes(item.localPath, NetEnv::Served(L"small.bin")));
    EXPECT_EQ(g_proxyPromptNotices, std::vector<bool>{false});
    EXPECT_EQ(ProxyFileText(), Expected(squid));
    const std::string log = NetEnv::InstallerLogText();
    EXPECT_TRUE(InOrder(log, {"Proxy from auto-configuration script: localhost:9", "WinHttpSendRequest failed with error 12029",
                              "Proxy from auto-configuration script: 127.0.0.1:9", "WinHttpSendRequest failed with error 12029",
                              "CreateSession...", "WinHttpSendRequest failed with error 12029", "CreateSession...",
                              "HTTP connection establised with server.."}));
    // The direct attempt, both entries and the static proxy.
    EXPECT_EQ(Count(log, "WinHttpSendRequest failed"), 4u);
}

TEST_F(Proxy, WhereNoRestrictedProcessCanRunTheScriptWinHttpsOwnAnswerIsTaken)
{
    // The script is not run here then: WinHTTP's answer is shorter (up to the first DIRECT on
    // Windows, where its service runs the script; only the first proxy under Wine), but it is
    // read the same way.
    SetScriptChildProgramForTesting(L"C:\\nowhere\\TarveloSetup.exe");
    const std::string live = "127.0.0.1:" + std::to_string(squid);
    for (const std::string& answer : {"PROXY " + live + "; PROXY 127.0.0.1:9", std::string("DIRECT")}) {
        SCOPED_TRACE(answer);
        NetEnv::ResetDownloadState();
        NetEnv::InstallerLogText();
        ASSERT_TRUE(NetEnv::SetBrowserProxy(4, "", ScriptUrl(fault, answer)));
        g_credentialAnswers = {{false, 1, user, password}};
        CHttpDownloader2 downloader(false);
        DownloadItem item = Item(nginx, L"/small.bin", L"winhttp-answer.bin");
        ASSERT_EQ(downloader.DownloadFiles(&item, 1), 1);
        EXPECT_TRUE(g_proxyPromptNotices.empty());
        const bool direct = answer == "DIRECT";
        EXPECT_EQ(downloader.proxy, direct ? L"" : L"http://" + Wide(live));
        const std::string log = NetEnv::InstallerLogText();
        EXPECT_TRUE(InOrder(log, {"Proxy auto-configuration script left to WinHTTP",
                                  "Proxy from auto-configuration script: " + (direct ? std::string("DIRECT") : live)}));
        EXPECT_TRUE(Contains(log, "\r\nCreateProcessAsUserW failed with error "));
    }
}

TEST_F(Proxy, AScriptThatCannotBeFetchedIsLeftToWinHttpWhichLogsOnWhereTheServerAsks)
{
    // The script server wants the user's logon: the installer's own fetch gets a 401, and
    // WinHTTP's reading, which may log on, is taken before the static proxy.
    const std::string live = "127.0.0.1:" + std::to_string(squid);
    NetEnv::InstallerLogText();
    ASSERT_TRUE(NetEnv::SetBrowserProxy(4 | 2, "127.0.0.1:9", ScriptUrl(fault, "PROXY " + live) + "&unauthorized=1"));
    g_credentialAnswers = {{false, 1, user, password}};
    CHttpDownloader2 downloader(false);
    DownloadItem item = Item(nginx, L"/small.bin", L"logon-script.bin");
    ASSERT_EQ(downloader.DownloadFiles(&item, 1), 1);
    EXPECT_EQ(downloader.proxy, L"http://" + Wide(live));
    EXPECT_TRUE(g_proxyPromptNotices.empty());
    EXPECT_TRUE(InOrder(NetEnv::InstallerLogText(),
                        {"Proxy auto-configuration script not fetched", "HTTP status 401",
                         "Proxy from auto-configuration script: " + live, "HTTP connection establised with server.."}));
    EXPECT_EQ(NetEnv::FaultRequests("&unauthorized=1").size(), 2u);
}

TEST_F(Proxy, NtlmIsChosenOverBasicAndTheProxyChecksTheUsersPassword)
{
    // The real credentials dialog against a proxy offering NTLM and Basic, whose NTLM helper
    // knows the password: a wrong one is refused and asked again with the notice.
    SetPromptHooksForTesting(nullptr, nullptr);
    const int ntlm = NetEnv::Port("TARVELO_SQUID_NTLM_PORT");
    ASSERT_TRUE(NetEnv::SetBrowserProxy(2, "127.0.0.1:" + std::to_string(ntlm)));
    RecordingDownloader downloader;
    UseProxyFile();
    DownloadItem item = Item(nginx, L"/stage2.bin", L"ntlm.bin");
    std::vector<Seen> seen;
    bool answered = false;
    const int result = RunWithRealDialogs([&] { return downloader.DownloadFiles(&item, 1); },
                                          [&] {
                                              return AnswerCredentialsDialog(user, L"wrong", &seen) &&
                                                     AnswerCredentialsDialog(user, password, &seen);
                                          },
                                          &answered);
    ASSERT_TRUE(answered) << "the credentials dialog was not shown twice";
    ASSERT_EQ(result, 1);
    EXPECT_EQ(downloader.schemes, (std::vector<uint32_t>{0x2, 0x2}));
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[1].noticeMessage, Text(L"CREDENTIAL_ERROR"));
    EXPECT_TRUE(NetEnv::SameBytes(item.localPath, NetEnv::Served(L"stage2.bin")));
    EXPECT_EQ(ProxyFileText(), Expected(ntlm));
    EXPECT_TRUE(AccessLogGets(L"squid-ntlm", {"TCP_MISS/200 ", "/stage2.bin " + NetEnv::Unix("TARVELO_PROXY_USER") + " "}));
    EXPECT_FALSE(Contains(NetEnv::InstallerLogText(), NetEnv::Unix("TARVELO_PROXY_PASSWORD")));
}

TEST_F(Proxy, NegotiateIsChosenFirstAndCompletesThroughItsNtlmFallback)
{
    const int negotiate = NetEnv::Port("TARVELO_SQUID_NEGOTIATE_PORT");
    ASSERT_TRUE(NetEnv::SetBrowserProxy(2, "127.0.0.1:" + std::to_string(negotiate)));
    g_credentialAnswers = {{false, 1, user, password}};
    RecordingDownloader downloader;
    UseProxyFile();
    DownloadItem item = Item(nginx, L"/small.bin", L"negotiate.bin");
    ASSERT_EQ(downloader.DownloadFiles(&item, 1), 1);
    EXPECT_EQ(downloader.schemes, std::vector<uint32_t>{0x10});
    EXPECT_TRUE(NetEnv::SameBytes(item.localPath, NetEnv::Served(L"small.bin")));
    EXPECT_TRUE(AccessLogGets(L"squid-negotiate", {"TCP_MISS/200 ", "/small.bin " + NetEnv::Unix("TARVELO_PROXY_USER") + " "}));
}
// Lets a test wait less or more than a run does for proxy auto-configuration.
class ShortLookupDownloader : public CHttpDownloader2 {
public:
    explicit ShortLookupDownloader(DWORD limitMs) : CHttpDownloader2(false) { m_autoProxyLimitMs = limitMs; }
};

std::wstring OwnProgramName()
{
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    return wcsrchr(self, L'\\') + 1;
}

// The processes of this program that this one started, as a snapshot finds them now. (Wine's
// desktop, explorer.exe, may count this process as its parent too.)
std::vector<DWORD> ChildProcesses()
{
    std::vector<DWORD> children;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return children;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry))
        if (entry.th32ParentProcessID == GetCurrentProcessId() && OwnProgramName() == entry.szExeFile)
            children.push_back(entry.th32ProcessID);
    CloseHandle(snapshot);
    return children;
}

// What a test reads back of the script's child while it runs.
struct ChildSeen {
    bool found = false;
    HANDLE process = nullptr;  // kept open, to see it end
    DWORD administratorsAttributes = 0;
    std::vector<std::wstring> privileges;
    BOOL inJob = FALSE;
};

// Waits, on a thread of its own, for a child of this process running this program, and reads
// its token and job.
DWORD WINAPI WatchForChild(void* parameter)
{
    ChildSeen* seen = static_cast<ChildSeen*>(parameter);
    WaitUntil([&] { return !ChildProcesses().empty(); }, 60000);
    const std::vector<DWORD> children = ChildProcesses();
    if (children.empty()) return 0;
    seen->process = OpenProcess(PROCESS_QUERY_INFORMATION | SYNCHRONIZE, FALSE, children[0]);
    if (!seen->process) return 0;
    seen->found = true;
    // It is put in its job right after it is created, before it runs.
    WaitUntil([&] { return IsProcessInJob(seen->process, nullptr, &seen->inJob) && seen->inJob; }, 10000);
    HANDLE token = nullptr;
    if (!OpenProcessToken(seen->process, TOKEN_QUERY, &token)) return 0;
    alignas(8) BYTE buffer[8192];
    DWORD size = 0;
    BYTE administrators[SECURITY_MAX_SID_SIZE];
    DWORD sidSize = sizeof(administrators);
    CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &sidSize);
    if (GetTokenInformation(token, TokenGroups, buffer, sizeof(buffer), &size)) {
        const auto* groups = reinterpret_cast<const TOKEN_GROUPS*>(buffer);
        for (DWORD i = 0; i < groups->GroupCount; ++i)
            if (EqualSid(groups->Groups[i].Sid, administrators)) seen->administratorsAttributes = groups->Groups[i].Attributes;
    }
    if (GetTokenInformation(token, TokenPrivileges, buffer, sizeof(buffer), &size)) {
        const auto* privileges = reinterpret_cast<const TOKEN_PRIVILEGES*>(buffer);
        for (DWORD i = 0; i < privileges->PrivilegeCount; ++i) {
            wchar_t name[128];
            DWORD length = 128;
            LUID luid = privileges->Privileges[i].Luid;
            if (LookupPrivilegeNameW(nullptr, &luid, name, &length)) seen->privileges.push_back(name);
        }
    }
    CloseHandle(token);
    return 0;
}

double CpuSeconds()
{
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    const auto seconds = [](const FILETIME& t) {
        return static_cast<double>((static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e7;
    };
    return seconds(kernel) + seconds(user);
}

TEST_F(Proxy, ScriptThatAllocatesWithoutEndIsStoppedAtItsMemoryLimitAndTheStaticProxyIsNext)
{
    const std::string squidProxy = "127.0.0.1:" + std::to_string(squid);
    NetEnv::InstallerLogText();
    ASSERT_TRUE(NetEnv::SetBrowserProxy(4 | 2, squidProxy,
                                        "http://127.0.0.1:" + std::to_string(fault) + "/__pac?grow=1"));
    g_credentialAnswers = {{false, 1, user, password}};
    {
        // A limit nobody would sit out: only the memory limit can end the script.
        ShortLookupDownloader downloader(600000);
        DownloadItem item = Item(nginx, L"/small.bin", L"growing-script.bin");
        ASSERT_EQ(downloader.DownloadFiles(&item, 1), 1);
        EXPECT_EQ(downloader.proxy, L"http://" + Wide(squidProxy));
        EXPECT_TRUE(g_proxyPromptNotices.empty());
    }
    const std::string log = NetEnv::InstallerLogText();
    EXPECT_TRUE(InOrder(log, {"direct connection failed...trying proxy",
                              "Proxy auto-configuration script stopped at its memory limit of 128 MB",
                              "HTTP connection establised with server.."}));
    // Not handed to WinHTTP either, which under Wine would run it in this process.
    EXPECT_FALSE(Contains(log, "WinHttpGetProxyForUrl"));
    EXPECT_FALSE(Contains(log, "gave no answer"));
    EXPECT_TRUE(WaitUntil([] { return ChildProcesses().empty(); }, 30000));
}

// This program started with the child's switch, given `handles` to inherit; its exit code, and
// what it wrote back to `replyRead` when that is given.
DWORD StartWithChildSwitch(const std::wstring& values, std::vector<HANDLE> handles, HANDLE replyRead = nullptr,
                           std::string* replied = nullptr)
{
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring commandLine = L"\"" + std::wstring(self) + L"\" /proxy-script-child:" + values;
    for (HANDLE handle : handles) SetHandleInformation(handle, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(self, &commandLine[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                        &info))
        return 0xFFFFFFFF;
    for (HANDLE handle : handles) CloseHandle(handle);
    if (replyRead) {
        char buffer[256];
        DWORD got = 0;
        while (ReadFile(replyRead, buffer, sizeof(buffer), &got, nullptr) && got > 0) replied->append(buffer, got);
    }
    DWORD exitCode = 0xFFFFFFFF;
    if (WaitForSingleObject(info.hProcess, 60000) == WAIT_OBJECT_0) GetExitCodeProcess(info.hProcess, &exitCode);
    CloseHandle(info.hProcess);
    CloseHandle(info.hThread);
    return exitCode;
}

std::wstring HandleValues(HANDLE request, HANDLE reply)
{
    return std::to_wstring(HandleToULong(request)) + L"," + std::to_wstring(HandleToULong(reply));
}

// The switch alone makes no child: what it names must be pipes that a process of this program
// made and handed down. A child started without the restricted token runs no script.
TEST_F(Proxy, OnlyPipesHandedDownByThisProgramMakeAScriptChildAndOnlyARestrictedOneRunsTheScript)
{
    // 1: no child (this program's main says so); 0: a child that replied.
    EXPECT_EQ(StartWithChildSwitch(L"1000,1004", {}), 1u);
    HANDLE events[2] = {CreateEventW(nullptr, TRUE, FALSE, nullptr), CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    EXPECT_EQ(StartWithChildSwitch(HandleValues(events[0], events[1]), {events[0], events[1]}), 1u);
    wchar_t file[MAX_PATH];
    GetTempFileNameW(NetEnv::Work().c_str(), L"chd", 0, file);
    HANDLE files[2] = {CreateFileW(file, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr),
                       CreateFileW(file, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr)};
    EXPECT_EQ(StartWithChildSwitch(HandleValues(files[0], files[1]), {files[0], files[1]}), 1u);
    DeleteFileW(file);

    // Real pipes of this process's, and a whole request, but the child has this process's own
    // token: it says it will not run the script.
    HANDLE requestRead, requestWrite, replyRead, replyWrite;
    ASSERT_TRUE(CreatePipe(&requestRead, &requestWrite, nullptr, 0));
    ASSERT_TRUE(CreatePipe(&replyRead, &replyWrite, nullptr, 0));
    ScriptRequest request;
    request.url = "http://dl.tarvelo.com/small.bin";
    request.host = "dl.tarvelo.com";
    request.script = "function FindProxyForURL(url, host) { return \"PROXY 127.0.0.1:9\"; }";
    const std::string bytes = EncodeScriptRequest(request);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(requestWrite, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
    CloseHandle(requestWrite);
    std::string replied;
    EXPECT_EQ(StartWithChildSwitch(HandleValues(requestRead, replyWrite), {requestRead, replyWrite}, replyRead, &replied),
              0u);
    CloseHandle(replyRead);
    ScriptReply reply;
    ASSERT_EQ(DecodeScriptReply(replied.data(), replied.size(), &reply), Decoded::Complete);
    EXPECT_EQ(reply.outcome, ScriptReply::Outcome::Refused);
    EXPECT_EQ(reply.text, "");
}

// This program is a script's child of its own, as the installer is. The child runs with a
// restricted token in a job; at the limit the job ends it, and nothing of the lookup is left to
// spin in this process.
TEST_F(Proxy, ScriptThatNeverAnswersRunsInARestrictedChildThatIsEndedAtTheLimit)
{
    const std::string squidProxy = "127.0.0.1:" + std::to_string(squid);
    NetEnv::InstallerLogText();
    ASSERT_TRUE(NetEnv::SetBrowserProxy(4 | 2, squidProxy,
                                        "http://127.0.0.1:" + std::to_string(fault) + "/__pac?hang=1"));
    g_credentialAnswers = {{false, 1, user, password}};
    ASSERT_TRUE(ChildProcesses().empty());
    ChildSeen seen;
    HANDLE watcher = CreateThread(nullptr, 0, &WatchForChild, &seen, 0, nullptr);
    ASSERT_TRUE(watcher);
    {
        ShortLookupDownloader downloader(10000);
        UseProxyFile();
        DownloadItem item = Item(nginx, L"/small.bin", L"silent-script.bin");
        ASSERT_EQ(downloader.DownloadFiles(&item, 1), 1);
        EXPECT_TRUE(NetEnv::SameBytes(item.localPath, NetEnv::Served(L"small.bin")));
        EXPECT_EQ(downloader.proxy, L"http://" + Wide(squidProxy));
        EXPECT_TRUE(g_proxyPromptNotices.empty());
        EXPECT_EQ(ProxyFileText(), Expected(squid));
    }
    WaitForSingleObject(watcher, 60000);
    CloseHandle(watcher);
    ASSERT_TRUE(seen.found) << "no child of this program was seen while the script ran";
    // What Wine keeps of the child's token is restricted: the
    // Administrators group for deny only (SE_GROUP_USE_FOR_DENY_ONLY | SE_GROUP_ENABLED_BY_DEFAULT
    // | SE_GROUP_MANDATORY reads 0x19 there), no privilege but change-notify. Wine reads its
    // low integrity label back as High, so that is for Windows to show.
    EXPECT_EQ(seen.administratorsAttributes & (SE_GROUP_USE_FOR_DENY_ONLY | SE_GROUP_ENABLED),
              static_cast<DWORD>(SE_GROUP_USE_FOR_DENY_ONLY));
    EXPECT_EQ(seen.administratorsAttributes, 0x19u);
    EXPECT_EQ(seen.privileges, std::vector<std::wstring>{L"SeChangeNotifyPrivilege"});
    EXPECT_TRUE(seen.inJob);
    // Its job was closed at the limit, which ended it, and nothing else of the lookup is left.
    EXPECT_EQ(WaitForSingleObject(seen.process, 30000), WAIT_OBJECT_0);
    CloseHandle(seen.process);
    EXPECT_TRUE(ChildProcesses().empty());
    const double before = CpuSeconds();
    Sleep(3000);
    EXPECT_LT(CpuSeconds() - before, 0.5) << "something of the lookup still runs in this process";

    std::string log = NetEnv::InstallerLogText();
    EXPECT_TRUE(InOrder(log, {"direct connection failed...trying proxy", "WinHttpSendRequest failed with error 12029",
                              "CreateSession...", "Proxy auto-configuration gave no answer in 10 s",
                              "CreateConnection...", "HTTP connection establised with server.."}));
    EXPECT_FALSE(Contains(log, "Proxy from auto-configuration script"));

    // A second lookup would keep the run waiting as long again: none is started, and nothing
    // waits for one. A limit nobody would sit out shows that.
    NetEnv::ResetDownloadState();
    g_credentialAnswers = {{false, 1, user, password}};
    {
        ShortLookupDownloader downloader(600000);
        DownloadItem item = Item(nginx, L"/small.bin", L"silent-script2.bin");
        ASSERT_EQ(downloader.DownloadFiles(&item, 1), 1);
        EXPECT_EQ(downloader.proxy, L"http://" + Wide(squidProxy));
    }
    log = NetEnv::InstallerLogText();
    EXPECT_TRUE(InOrder(log, {"direct connection failed...trying proxy",
                              "Proxy auto-configuration not asked again: an earlier lookup gave no answer",
                              "HTTP connection establised with server.."}));
}
}  // namespace

// The tests above start this program as the proxy script's child, as the installer starts
// itself: such a start runs the script and nothing else, and a start with the child's switch
// that is not a real child's runs no test either.
int main(int argc, char** argv)
{
    ScriptChildPipes pipes;
    if (IsScriptChildStart(&pipes)) return RunScriptChild(pipes);
    uint32_t request = 0, reply = 0;
    if (ParseScriptChildCommandLine(GetCommandLineW(), &request, &reply)) return 1;
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
