// The download loop against nginx and the fault server on loopback.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "download/http_downloader.h"
#include "download/portable/windows_program.h"
#include "app/progress_link.h"
#include "app/proxy_prompts.h"
#include "download/retry_pause.h"
#include "support/net_env.h"

namespace {
std::vector<int> g_positions;
std::vector<DWORD> g_pauses;
int g_abortAtPosition = -1;
int g_prompts = 0;

void RecordPosition(int position)
{
    g_positions.push_back(position);
    if (position == g_abortAtPosition) AbortRequested.store(true);
}
bool RecordPause(DWORD milliseconds)
{
    g_pauses.push_back(milliseconds);
    return true;
}
INT_PTR NoProxyPrompt(bool, std::wstring*, std::wstring*)
{
    ++g_prompts;
    return 0;
}
bool NoCredentialsPrompt(bool, std::wstring*, std::wstring*, INT_PTR* modal)
{
    ++g_prompts;
    *modal = 0;
    return false;
}

std::vector<int> Range(int from, int to)
{
    std::vector<int> v;
    for (int i = from; i <= to; ++i) v.push_back(i);
    return v;
}

bool Contains(const std::string& haystack, const std::string& needle)
{
    return haystack.find(needle) != std::string::npos;
}

// True when the log has line `first` directly followed by line `second`.
bool Follows(const std::string& log, const std::string& first, const std::string& second)
{
    return Contains(log, "\n" + first + "\r\n" + second + "\r\n");
}

class DownloadLoop : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!NetEnv::Available()) GTEST_SKIP() << "run through tests/servers/run_nettest.py";
        NetEnv::UseOwnTemp();
        NetEnv::ResetDownloadState();
        g_positions.clear();
        g_pauses.clear();
        g_abortAtPosition = -1;
        g_prompts = 0;
        ProgressLink::SetWaitLimitForTesting(0);
        ProgressLink::SetPositionObserverForTesting(&RecordPosition);
        SetRetryPauseHookForTesting(&RecordPause);
        SetPromptHooksForTesting(&NoProxyPrompt, &NoCredentialsPrompt);
        nginx = NetEnv::Port("TARVELO_NGINX_PORT");
        fault = NetEnv::Port("TARVELO_FAULT_PORT");
        out = NetEnv::Work() + L"\\out";
        CreateDirectoryW(out.c_str(), nullptr);
    }
    void TearDown() override
    {
        SetRetryPauseHookForTesting(nullptr);
        ProgressLink::SetPositionObserverForTesting(nullptr);
        AbortRequested.store(false);
    }

    DownloadItem Item(const std::wstring& url, const std::wstring& name, int share = 100, int step = 1)
    {
        DownloadItem item;
        item.url = url;
        item.localPath = out + L"\\" + name;
        item.folder = out;
        item.progressShare = share;
        item.progressStep = step;
        DeleteFileW(item.localPath.c_str());
        return item;
    }

    int nginx = 0, fault = 0;
    std::wstring out;
};

TEST_F(DownloadLoop, EmptyListSucceedsWithoutTouchingTheNetwork)
{
    CHttpDownloader2 downloader(false);
    const std::string before = NetEnv::InstallerLogText();
    EXPECT_EQ(downloader.DownloadFiles(nullptr, 0), 1);
    EXPECT_EQ(NetEnv::InstallerLogText(), before);
}

TEST_F(DownloadLoop, DirectDownloadIsByteIdenticalLogsEveryStepAndWritesNoProxyFile)
{
    CHttpDownloader2 downloader(false);
    const std::wstring proxyFile = out + L"\\direct.proxy";
    DeleteFileW(proxyFile.c_str());
    wcscpy_s(SavedProxyFilePath, proxyFile.c_str());
    DownloadItem item = Item(NetEnv::Url(nginx, L"/big.bin"), L"direct.bin");
    ASSERT_EQ(downloader.DownloadFiles(&item, 1), 1);
    EXPECT_TRUE(NetEnv::SameBytes(item.localPath, NetEnv::Served(L"big.bin")));
    EXPECT_EQ(g_positions, Range(1, 100));
    EXPECT_EQ(downloader.progressBase, 101);
    EXPECT_EQ(g_prompts, 0);
    EXPECT_EQ(GetFileAttributesW(proxyFile.c_str()), INVALID_FILE_ATTRIBUTES);

    const std::string log = NetEnv::InstallerLogText();
    const std::string path = NetEnv::AsLogged(item.localPath);
    const char* const order[] = {"Downloading File: ", "CreateSession...", "CreateConnection...",
                                 "CreateRequest...", "Request Created...", "Sending Http Request",
                                 "Before HideButton", "After HideButton",
                                 "HTTP connection establised with server..",
                                 "Username& Passwd matched...ready for download",
                                 "Starting the download...", "Download complete...FileName : "};
    size_t at = log.rfind("Downloading File: " + path);
    ASSERT_NE(at, std::string::npos);
    for (const char* line : order) {
        const size_t next = log.find(line, at);
        ASSERT_NE(next, std::string::npos) << line;
        at = next;
    }
    EXPECT_TRUE(Contains(log, "Download complete...FileName : " + path + "\r\n"));
}

TEST_F(DownloadLoop, CutBodyIsResumedWithARangeToTheLastByte)
{
    CHttpDownloader2 downloader(false);
    DownloadItem item = Item(NetEnv::Url(fault, L"/big.bin?cut=300000"), L"resumed.bin");
    ASSERT_EQ(downloader.DownloadFiles(&item, 1), 1);
    EXPECT_TRUE(NetEnv::SameBytes(item.localPath, NetEnv::Served(L"big.bin")));
    const auto requests = NetEnv::FaultRequests("/big.bin?cut=300000 ");
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_TRUE(Contains(requests[0], "range=-"));
    EXPECT_TRUE(Contains(requests[1], "range=bytes=300000-999999"));
    EXPECT_TRUE(Contains(NetEnv::InstallerLogText(), "network down...retrying.."));
    EXPECT_TRUE(g_pauses.empty());
    EXPECT_EQ(g_positions, Range(1, 100));
}

TEST_F(DownloadLoop, ExistingLongerFileIsCutBackToTheResumeOffset)
{
    const std::vector<char> source = NetEnv::ReadAll(NetEnv::Served(L"big.bin"));
    ASSERT_EQ(source.size(), 1000000u);
    {
        CHttpDownloader2 downloader(false);
        DownloadItem item = Item(NetEnv::Url(nginx, L"/big.bin"), L"longer.bin");
        ASSERT_TRUE(NetEnv::WriteAll(item.localPath, std::vector<char>(1500000, 'X')));
        ASSERT_EQ(downloader.DownloadFiles(&item, 1), 1);
        EXPECT_EQ(NetEnv::ReadAll(item.localPath), source);
    }
    {
        // Resumed at 300,000 with junk beyond it: the junk goes, the first part stays.
        CHttpDownloader2 downloader(false);
        DownloadItem item = Item(NetEnv::Url(nginx, L"/big.bin"), L"longer2.bin");
        std::vector<char> partial(source.begin(), source.begin() + 300000);
        partial.resize(800000, 'J');
        ASSERT_TRUE(NetEnv::WriteAll(item.localPath, partial));
        item.resumeOffset = 300000;
        ContentLength = 1000000;
        ASSERT_EQ(downloader.DownloadFiles(&item, 1), 1);
        EXPECT_EQ(NetEnv::ReadAll(item.localPath), source);
    }
}

TEST_F(DownloadLoop, NotFoundEndsTheListAndLaterItemsAreNotTried)
{
    CHttpDownloader2 downloader(false);
    DownloadItem items[2] = {Item(NetEnv::Url(fault, L"/missing.bin"), L"missing.bin"),
                             Item(NetEnv::Url(fault, L"/small.bin?after404=1"), L"after404.bin")};
    EXPECT_EQ(downloader.DownloadFiles(items, 2), 0);
    EXPECT_TRUE(NetEnv::FaultRequests("after404").empty());
}

// Five failing sends on an established request: pauses of 2, 4, 6 and 8 s, then failure.
static int SpawnDyingListener(CHttpDownloader2& downloader, DownloadItem& spawn)
{
    if (downloader.DownloadFiles(&spawn, 1) != 1) return 0;
    const std::vector<char> text = NetEnv::ReadAll(spawn.localPath);
    const size_t header = kDosHeaderSize + kPeSignatureSize;
    if (text.size() <= header) return 0;
    return std::atoi(std::string(text.begin() + header, text.end()).c_str());
}

TEST_F(DownloadLoop, FailedSendsOnAnEstablishedRequestPauseTwoFourSixEightThenFail)
{
    CHttpDownloader2 downloader(false);
    DownloadItem spawn = Item(NetEnv::Url(fault, L"/__spawn?die_after=1"), L"spawn.txt");
    const int dying = SpawnDyingListener(downloader, spawn);
    ASSERT_GT(dying, 0);
    DownloadItem item = Item(NetEnv::Url(dying, L"/big.bin?cut=300000&dying=1"), L"dying.bin");
    EXPECT_EQ(downloader.DownloadFiles(&item, 1), 0);
    EXPECT_EQ(g_pauses, (std::vector<DWORD>{2000, 4000, 6000, 8000}));
    EXPECT_EQ(item.retryCount, 4);
    EXPECT_EQ(item.resumeOffset, 300000u);
}

TEST_F(DownloadLoop, FailedSendsReallyWaitTwentySecondsInAll)
{
    SetRetryPauseHookForTesting(nullptr);
    CHttpDownloader2 downloader(false);
    DownloadItem spawn = Item(NetEnv::Url(fault, L"/__spawn?die_after=1"), L"spawn2.txt");
    const int dying = SpawnDyingListener(downloader, spawn);
    ASSERT_GT(dying, 0);
    DownloadItem item = Item(NetEnv::Url(dying, L"/big.bin?cut=300000&dying=2"), L"dying2.bin");
    const ULONGLONG start = GetTickCount64();
    EXPECT_EQ(downloader.DownloadFiles(&item, 1), 0);
    EXPECT_GE(GetTickCount64() - start, 20000u);
}

TEST_F(DownloadLoop, AttemptsThatBringNothingAreLimitedLikeFailedSends)
{
    CHttpDownloader2 downloader(false);
    DownloadItem item = Item(NetEnv::Url(fault, L"/big.bin?cut=0&cuts=100"), L"nothing.bin");
    EXPECT_EQ(downloader.DownloadFiles(&item, 1), 0);
    EXPECT_EQ(g_pauses, (std::vector<DWORD>{2000, 4000, 6000, 8000}));
    EXPECT_EQ(NetEnv::FaultRequests("/big.bin?cut=0&cuts=100 ").size(), 5u);
}

static DWORD WINAPI AbortSoon(LPVOID)
{
    Sleep(300);
    AbortRequested.store(true);
    return 0;
}

TEST_F(DownloadLoop, AbortWakesARetryPauseAtOnce)
{
    SetRetryPauseHookForTesting(nullptr);
    CHttpDownloader2 downloader(false);
    DownloadItem item = Item(NetEnv::Url(fault, L"/big.bin?cut=0&cuts=100&abort=1"), L"abortpause.bin");
    const ULONGLONG start = GetTickCount64();
    HANDLE thread = CreateThread(nullptr, 0, &AbortSoon, nullptr, 0, nullptr);
    EXPECT_EQ(downloader.DownloadFiles(&item, 1), 0);
    // The first pause is 2 s; the abort comes after 0.3 s.
    EXPECT_LT(GetTickCount64() - start, 1900u);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    EXPECT_TRUE(Contains(NetEnv::InstallerLogText(), "download aborted..."));
}

TEST_F(DownloadLoop, AbortDuringTheTransferStopsWritingAndFails)
{
    CHttpDownloader2 downloader(false);
    g_abortAtPosition = 10;
    DownloadItem item = Item(NetEnv::Url(nginx, L"/big.bin"), L"aborted.bin");
    EXPECT_EQ(downloader.DownloadFiles(&item, 1), 0);
    const std::vector<char> got = NetEnv::ReadAll(item.localPath);
    const std::vector<char> source = NetEnv::ReadAll(NetEnv::Served(L"big.bin"));
    EXPECT_GE(got.size(), 100000u);
    EXPECT_LT(got.size(), 200000u);
    EXPECT_TRUE(std::equal(got.begin(), got.end(), source.begin()));
    EXPECT_TRUE(Contains(NetEnv::InstallerLogText(), "download aborted..."));
}

TEST_F(DownloadLoop, ServerThatIgnoresTheRangeIsWrittenFromTheStart)
{
    CHttpDownloader2 downloader(false);
    DownloadItem item = Item(NetEnv::Url(fault, L"/big.bin?cut=300000&ignorerange=1"), L"ignored.bin");
    ASSERT_EQ(downloader.DownloadFiles(&item, 1), 1);
    EXPECT_TRUE(NetEnv::SameBytes(item.localPath, NetEnv::Served(L"big.bin")));
    EXPECT_TRUE(Contains(NetEnv::InstallerLogText(), "Server ignored the range...downloading from the start"));
}

TEST_F(DownloadLoop, PartialAnswerFromAnotherOffsetIsNeverAppended)
{
    // From the file's start or from elsewhere: either way not where the file stopped, so the
    // file comes again on a request without a range, after one retry pause.
    for (const wchar_t* query : {L"/big.bin?cut=300000&badstart=0", L"/big.bin?cut=300000&badstart=1000"}) {
        g_pauses.clear();
        CHttpDownloader2 downloader(false);
        DownloadItem item = Item(NetEnv::Url(fault, query), L"badstart.bin");
        ASSERT_EQ(downloader.DownloadFiles(&item, 1), 1);
        EXPECT_TRUE(NetEnv::SameBytes(item.localPath, NetEnv::Served(L"big.bin")));
        const std::wstring wide(query);
        const auto requests = NetEnv::FaultRequests(std::string(wide.begin(), wide.end()) + " ");
        ASSERT_EQ(requests.size(), 3u);
        EXPECT_TRUE(Contains(requests[2], "range=-"));
        EXPECT_EQ(g_pauses, (std::vector<DWORD>{2000}));
    }
}

TEST_F(DownloadLoop, BodyWithoutLengthOrChunkedCompletesWhenItEnds)
{
    {
        CHttpDownloader2 downloader(false);
        DownloadItem item = Item(NetEnv::Url(fault, L"/big.bin?nolength=1"), L"nolength.bin", 50, 2);
        ASSERT_EQ(downloader.DownloadFiles(&item, 1), 1);
        EXPECT_TRUE(NetEnv::SameBytes(item.localPath, NetEnv::Served(L"big.bin")));
        EXPECT_EQ(g_positions, (std::vector<int>{50}));
        EXPECT_EQ(downloader.progressBase, 51);
    }
    {
        CHttpDownloader2 downloader(false);
        DownloadItem item = Item(NetEnv::Url(fault, L"/big.bin?chunked=1"), L"chunked.bin");
        ASSERT_EQ(downloader.DownloadFiles(&item, 1), 1);
        EXPECT_TRUE(NetEnv::SameBytes(item.localPath, NetEnv::Served(L"big.bin")));
    }
}

// The product keeps WinHTTP's own receive timeout (30 s); the test shortens it on each request
// it opens, so that a stall ends in seconds.
class ShortTimeoutDownloader : public CHttpDownloader2 {
public:
    ShortTimeoutDownloader() : CHttpDownloader2(false) {}
    int CreateRequest() override
    {
        const int result = CHttpDownloader2::CreateRequest();
        if (result) WinHttpSetTimeouts(request.Get(), 0, 60000, 30000, 2000);
        return result;
    }
};

TEST_F(DownloadLoop, StalledTransferTimesOutAndResumes)
{
    ShortTimeoutDownloader downloader;
    DownloadItem item = Item(NetEnv::Url(fault, L"/big.bin?stall=300000"), L"stalled.bin");
    ASSERT_EQ(downloader.DownloadFiles(&item, 1), 1);
    EXPECT_TRUE(NetEnv::SameBytes(item.localPath, NetEnv::Served(L"big.bin")));
    // The read that timed out may lose the bytes WinHTTP held back for its last chunk, so the
    // range starts at what reached the disk, at most 300,000.
    const auto requests = NetEnv::FaultRequests("/big.bin?stall=300000 ");
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_TRUE(Contains(requests[0], "range=- "));
    const size_t at = requests[1].find("range=bytes=");
    ASSERT_NE(at, std::string::npos);
    const long from = std::strtol(requests[1].c_str() + at + 12, nullptr, 10);
    EXPECT_GT(from, 290000);
    EXPECT_LE(from, 300000);
    EXPECT_TRUE(Contains(requests[1], "-999999 "));
    // Windows reports the timeout as 12002; Wine passes the socket's 10060 on.
    const std::string log = NetEnv::InstallerLogText();
    EXPECT_TRUE(Follows(log, "network down...retrying..", "WinHttpReadData failed with error 12002") ||
                Follows(log, "network down...retrying..", "WinHttpReadData failed with error 10060"));
}

TEST_F(DownloadLoop, OnlyTheVendorsHostsAreAccepted)
{
    CHttpDownloader2 downloader(false);
    DownloadItem other = Item(NetEnv::Url(fault, L"/small.bin?vendor=1", L"other.test"), L"other.bin");
    EXPECT_EQ(downloader.DownloadFiles(&other, 1), 0);
    DownloadItem sneaky = Item(NetEnv::Url(fault, L"/small.bin?vendor=2&.tarvelo.com", L"other.test"), L"sneaky.bin");
    EXPECT_EQ(downloader.DownloadFiles(&sneaky, 1), 0);
    EXPECT_TRUE(NetEnv::FaultRequests("vendor=").empty());
    EXPECT_TRUE(Contains(NetEnv::InstallerLogText(), "Url doesnt contain tarvelo.com\r\n"));
}

TEST_F(DownloadLoop, UrlWithoutSchemeIsPrefixedAndKeptSo)
{
    CHttpDownloader2 downloader(false);
    const std::wstring bare = L"dl.tarvelo.com:" + std::to_wstring(nginx) + L"/small.bin";
    DownloadItem item = Item(bare, L"bare.bin");
    ASSERT_EQ(downloader.DownloadFiles(&item, 1), 1);
    EXPECT_EQ(item.url, L"http://" + bare);
    EXPECT_TRUE(NetEnv::SameBytes(item.localPath, NetEnv::Served(L"small.bin")));
}

TEST_F(DownloadLoop, LengthOfTwoGibibytesOrMoreIsRefused)
{
    CHttpDownloader2 downloader(false);
    DownloadItem item = Item(NetEnv::Url(fault, L"/small.bin?lie=3000000000"), L"huge.bin");
    EXPECT_EQ(downloader.DownloadFiles(&item, 1), 0);
    EXPECT_TRUE(Contains(NetEnv::InstallerLogText(), "ERROR: files of 2 GiB or more cannot be downloaded"));
}

TEST_F(DownloadLoop, ServerAuthenticationWithoutCredentialsFails)
{
    CHttpDownloader2 downloader(false);
    DownloadItem item = Item(NetEnv::Url(fault, L"/small.bin?status=401"), L"denied.bin");
    EXPECT_EQ(downloader.DownloadFiles(&item, 1), 0);
    EXPECT_TRUE(Contains(NetEnv::InstallerLogText(), "ERROR: dwStatusCode=HTTP_STATUS_DENIED"));
}

TEST_F(DownloadLoop, TwoItemPlanMovesTheBarOneToFiftyThenFiftyTwoToSixtyOne)
{
    CHttpDownloader2 downloader(true);
    DownloadItem items[2] = {Item(NetEnv::Url(nginx, L"/dotnet.bin"), L"dotnetfx.exe", 50, 2),
                             Item(NetEnv::Url(nginx, L"/stage2.bin"), L"stage2.exe", 10, 10)};
    ASSERT_EQ(downloader.DownloadFiles(items, 2), 1);
    std::vector<int> expected = Range(1, 50);
    for (int p : Range(52, 61)) expected.push_back(p);
    EXPECT_EQ(g_positions, expected);
    EXPECT_EQ(downloader.progressBase, 62);
    EXPECT_TRUE(NetEnv::SameBytes(items[0].localPath, NetEnv::Served(L"dotnet.bin")));
    EXPECT_TRUE(NetEnv::SameBytes(items[1].localPath, NetEnv::Served(L"stage2.bin")));
}

TEST_F(DownloadLoop, SmallFileStillStepsThroughEveryPosition)
{
    // 5,000 bytes in 1 KiB chunks cross two steps of ten percent at a time.
    CHttpDownloader2 downloader(false);
    downloader.progressBase = 51;
    DownloadItem item = Item(NetEnv::Url(nginx, L"/small.bin"), L"smallsteps.bin", 10, 10);
    ASSERT_EQ(downloader.DownloadFiles(&item, 1), 1);
    EXPECT_EQ(g_positions, Range(52, 61));
    EXPECT_TRUE(NetEnv::SameBytes(item.localPath, NetEnv::Served(L"small.bin")));
}

TEST_F(DownloadLoop, EachFailedCallIsLoggedWithItsCodeAfterTheStepsOwnLine)
{
    // A refused port and an unknown host: the same prescribed line, told apart by the code.
    {
        CHttpDownloader2 downloader(false);
        DownloadItem refused = Item(NetEnv::Url(9, L"/small.bin"), L"refusedport.bin");
        EXPECT_EQ(downloader.DownloadFiles(&refused, 1), 0);
    }
    NetEnv::ResetDownloadState();
    {
        CHttpDownloader2 downloader(false);
        DownloadItem unknown = Item(NetEnv::Url(nginx, L"/small.bin", L"nowhere.tarvelo.com"), L"unknown.bin");
        EXPECT_EQ(downloader.DownloadFiles(&unknown, 1), 0);
    }
    NetEnv::ResetDownloadState();
    {
        // A file that cannot be created: the loop's line for the failed attempt, then the call.
        CHttpDownloader2 downloader(false);
        DownloadItem item = Item(NetEnv::Url(nginx, L"/small.bin"), L"no such folder\\file.bin");
        EXPECT_EQ(downloader.DownloadFiles(&item, 1), 0);
        EXPECT_EQ(g_pauses.size(), 4u);
    }
    const std::string log = NetEnv::InstallerLogText();
    EXPECT_TRUE(Follows(log, "direct connection failed...trying proxy", "WinHttpSendRequest failed with error 12029"));
    EXPECT_TRUE(Follows(log, "direct connection failed...trying proxy", "WinHttpSendRequest failed with error 12007"));
    EXPECT_TRUE(Follows(log, "network down...retrying..", "CreateFileW failed with error 3"));
}
}  // namespace
