// Proxy fallback, the saved proxy file and proxy authentication, against squid on loopback.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <deque>
#include <string>
#include <vector>

#include "download/http_downloader.h"
#include "download/progress_link.h"
#include "download/proxy_prompts.h"
#include "download/retry_pause.h"
#include "support/net_env.h"

namespace {
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
    for (const std::string configured : {bare, "http://" + bare, "http=" + bare + ";https=127.0.0.1:9"}) {
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
    ASSERT_TRUE(NetEnv::SetBrowserProxy(2, "127.0.0.1:" + std::to_string(squid)));
    g_credentialAnswers = {{false, 1, user, L"wrong"}, {false, 1, user, password}};
    CHttpDownloader2 downloader(false);
    UseProxyFile();
    DownloadItem items[2] = {Item(nginx, L"/small.bin", L"cred1.bin"), Item(nginx, L"/stage2.bin", L"cred2.bin")};
    ASSERT_EQ(downloader.DownloadFiles(items, 2), 1);
    EXPECT_EQ(g_credentialPromptNotices, (std::vector<bool>{false, true}));
    EXPECT_FALSE(ProxyCredentialsPromptPending);
    EXPECT_TRUE(NetEnv::SameBytes(items[0].localPath, NetEnv::Served(L"small.bin")));
    EXPECT_TRUE(NetEnv::SameBytes(items[1].localPath, NetEnv::Served(L"stage2.bin")));
    // A later call through the same proxy needs no dialog either.
    DownloadItem again = Item(nginx, L"/msi.bin", L"cred3.bin");
    ASSERT_EQ(downloader.DownloadFiles(&again, 1), 1);
    EXPECT_EQ(g_credentialPromptNotices.size(), 2u);
    EXPECT_EQ(ProxyFileText(), Expected(squid));
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
    ASSERT_TRUE(NetEnv::SetBrowserProxy(1, ""));
    NetEnv::WriteAll(proxyFile, {'O', 'L', 'D', '|'});
    g_proxyAnswers = {{1004, L"  127.0.0.1 ", L" 9 "}, {1004, L"http://127.0.0.1", std::to_wstring(squid)}};
    g_credentialAnswers = {{false, 1, user, password}};
    CHttpDownloader2 downloader(false);
    UseProxyFile();
    DownloadItem item = Item(nginx, L"/big.bin", L"userproxy.bin");
    ASSERT_EQ(downloader.DownloadFiles(&item, 1), 1);
    EXPECT_TRUE(NetEnv::SameBytes(item.localPath, NetEnv::Served(L"big.bin")));
    EXPECT_EQ(g_proxyPromptNotices, (std::vector<bool>{false, true}));
    EXPECT_EQ(ProxyPromptCount, 2);
    EXPECT_EQ(downloader.proxyServerText, L"http://127.0.0.1");
    EXPECT_EQ(downloader.proxy, L"http://127.0.0.1:" + std::to_wstring(squid));
    EXPECT_EQ(ProxyFileText(), "OLD|" + Expected(squid));
    // A proxy has been saved: the user is not asked again.
    EXPECT_EQ(downloader.GetProxyFromUser(), 0);
    EXPECT_EQ(g_proxyPromptNotices.size(), 2u);
}

TEST_F(Proxy, CancelledProxyDialogRequestsTheAbort)
{
    ASSERT_TRUE(NetEnv::SetBrowserProxy(1, ""));
    g_proxyAnswers = {{0, L"", L""}};
    CHttpDownloader2 downloader(false);
    UseProxyFile();
    DownloadItem item = Item(nginx, L"/small.bin", L"cancelled.bin");
    EXPECT_EQ(downloader.DownloadFiles(&item, 1), 0);
    EXPECT_TRUE(AbortRequested.load());
    EXPECT_EQ(GetFileAttributesW(proxyFile.c_str()), INVALID_FILE_ATTRIBUTES);
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
    EXPECT_EQ(NetEnv::FaultRequests("/small.bin?proxyauth=basic&refuse=1 ").size(), 4u);
    EXPECT_TRUE(Contains(NetEnv::InstallerLogText(), "ERROR: proxy keeps refusing the saved credentials"));
}
}  // namespace
