// Downloads checked for being Windows programs and against their SHA-256, and a matrix of server
// faults: every run ends with the file byte-identical to the source or with a failure, and a file
// that failed its check is gone before anything could start it.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "download/http_downloader.h"
#include "download/payload_check.h"
#include "app/progress_link.h"
#include "app/proxy_prompts.h"
#include "download/retry_pause.h"
#include "support/net_env.h"
#include "support/win32_handle.h"

namespace {
std::vector<int> g_positions;
int g_pauses = 0;

void RecordPosition(int position) { g_positions.push_back(position); }
bool CountPause(DWORD)
{
    ++g_pauses;
    return true;
}
INT_PTR NoProxyPrompt(bool, std::wstring*, std::wstring*) { return 0; }
bool NoCredentialsPrompt(bool, std::wstring*, std::wstring*, INT_PTR* modal)
{
    *modal = 0;
    return false;
}

size_t Count(const std::string& haystack, const std::string& needle)
{
    size_t n = 0;
    for (size_t at = haystack.find(needle); at != std::string::npos; at = haystack.find(needle, at + 1)) ++n;
    return n;
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

// Figures of this run, for the summary the test command prints.
struct Figures {
    int faults = 0, runs = 0, verified = 0, rejected = 0, notPrograms = 0;
};
Figures g_figures;

void WriteFigures()
{
    const std::wstring build = NetEnv::WindowsPath(L"TARVELO_BUILD_DIR");
    if (build.empty()) return;
    const std::wstring path = build + L"\\reliability-download.txt";
    const std::string text = "fault matrix: " + std::to_string(g_figures.runs) + " runs, " +
                             std::to_string(g_figures.faults) + " faults injected, " +
                             std::to_string(g_figures.verified) + " files verified by SHA-256, " +
                             std::to_string(g_figures.rejected) + " mismatching downloads rejected, " +
                             std::to_string(g_figures.notPrograms) + " downloads that were no Windows program rejected\n";
    NetEnv::WriteAll(path, std::vector<char>(text.begin(), text.end()));
}

class Environment : public ::testing::Environment {
    void TearDown() override { WriteFigures(); }
};
const auto* const g_environment = ::testing::AddGlobalTestEnvironment(new Environment);

// The product keeps WinHTTP's own receive timeout (30 s); a stall case shortens it for every
// request of the session, so that each stall ends in seconds.
class ShortTimeoutDownloader : public CHttpDownloader2 {
public:
    explicit ShortTimeoutDownloader(bool shorten) : CHttpDownloader2(false), m_shorten(shorten) {}
    int CreateSession() override
    {
        const int result = CHttpDownloader2::CreateSession();
        if (result && m_shorten) WinHttpSetTimeouts(session.Get(), 0, 60000, 30000, 2000);
        return result;
    }

private:
    bool m_shorten;
};

class DownloadFaults : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!NetEnv::Available()) GTEST_SKIP() << "run through tests/servers/run_nettest.py";
        NetEnv::UseOwnTemp();
        NetEnv::ResetDownloadState();
        g_positions.clear();
        g_pauses = 0;
        ProgressLink::SetWaitLimitForTesting(0);
        ProgressLink::SetPositionObserverForTesting(&RecordPosition);
        SetRetryPauseHookForTesting(&CountPause);
        SetPromptHooksForTesting(&NoProxyPrompt, &NoCredentialsPrompt);
        fault = NetEnv::Port("TARVELO_FAULT_PORT");
        out = NetEnv::Work() + L"\\faults";
        CreateDirectoryW(out.c_str(), nullptr);
    }
    void TearDown() override
    {
        SetRetryPauseHookForTesting(nullptr);
        ProgressLink::SetPositionObserverForTesting(nullptr);
        AbortRequested.store(false);
    }

    DownloadItem Item(const std::wstring& pathAndQuery, const std::wstring& name, bool withDigest,
                      const wchar_t* source = L"big.bin")
    {
        DownloadItem item;
        item.url = NetEnv::Url(fault, pathAndQuery);
        item.localPath = out + L"\\" + name;
        item.progressShare = 100;
        item.progressStep = 1;
        if (withDigest) {
            item.hasSha256 = DigestOfFile(NetEnv::Served(source), &item.sha256);
            EXPECT_TRUE(item.hasSha256);
        }
        DeleteFileW(item.localPath.c_str());
        return item;
    }

    // Runs one download and checks the one rule every outcome obeys: a success leaves the
    // source's exact bytes, a failed check leaves no file at all.
    int Run(DownloadItem& item, const wchar_t* source = L"big.bin", bool shortTimeouts = false)
    {
        ShortTimeoutDownloader downloader(shortTimeouts);
        NetEnv::InstallerLogText();  // closes the log: it starts afresh with this run's lines
        const int result = downloader.DownloadFiles(&item, 1);
        const std::string log = NetEnv::InstallerLogText();
        if (result == 1) {
            EXPECT_TRUE(NetEnv::SameBytes(item.localPath, NetEnv::Served(source)));
            EXPECT_EQ(downloader.progressBase, 101);
        }
        if ((Count(log, "Hash mismatch: ") > 0 || Count(log, "Not a Windows program: ") > 0) && result == 0) {
            EXPECT_FALSE(Exists(item.localPath)) << "a file that failed its check is left behind";
        }
        ++g_figures.runs;
        g_figures.verified += static_cast<int>(Count(log, "Hash verified: "));
        g_figures.rejected += static_cast<int>(Count(log, "Hash mismatch: "));
        g_figures.notPrograms += static_cast<int>(Count(log, "Not a Windows program: "));
        lastLog = log;
        return result;
    }

    size_t Requests(const std::string& pathAndQuery)
    {
        return NetEnv::FaultRequests(pathAndQuery + " ").size();
    }

    int fault = 0;
    std::wstring out;
    std::string lastLog;
};

// Verified payloads ---------------------------------------------------------------------------

TEST_F(DownloadFaults, MatchingDigestIsVerifiedAndLogged)
{
    DownloadItem item = Item(L"/big.bin?digest=match", L"match.bin", true);
    ASSERT_EQ(Run(item), 1);
    EXPECT_EQ(Count(lastLog, "Hash verified: " + NetEnv::AsLogged(item.localPath) + "\r\n"), 1u);
    EXPECT_EQ(Count(lastLog, "Hash mismatch: "), 0u);
    EXPECT_EQ(Requests("/big.bin?digest=match"), 1u);
}

TEST_F(DownloadFaults, OneMismatchIsDeletedAndFetchedOnceMoreFromByteZero)
{
    DownloadItem item = Item(L"/big.bin?corrupt=1", L"again.bin", true);
    ASSERT_EQ(Run(item), 1);
    g_figures.faults += 1;
    EXPECT_EQ(Count(lastLog, "Hash mismatch: " + NetEnv::AsLogged(item.localPath) + "\r\n"), 1u);
    EXPECT_EQ(Count(lastLog, "Hash verified: "), 1u);
    const auto requests = NetEnv::FaultRequests("/big.bin?corrupt=1 ");
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_NE(requests[1].find("range=-"), std::string::npos);  // the whole file again
    EXPECT_EQ(g_pauses, 0);
    // The bar runs through the file a second time and ends where one download would.
    EXPECT_EQ(g_positions.back(), 100);
}

TEST_F(DownloadFaults, SecondMismatchFailsAndLeavesNothingToStart)
{
    DownloadItem item = Item(L"/big.bin?corrupt=5", L"twice.bin", true);
    EXPECT_EQ(Run(item), 0);
    g_figures.faults += 2;
    EXPECT_EQ(Count(lastLog, "Hash mismatch: " + NetEnv::AsLogged(item.localPath) + "\r\n"), 2u);
    EXPECT_EQ(Requests("/big.bin?corrupt=5"), 2u);
    EXPECT_FALSE(Exists(item.localPath));
    EXPECT_EQ(Count(lastLog, "Hash verified: "), 0u);
}

TEST_F(DownloadFaults, ItemWithoutDigestIsNotChecked)
{
    DownloadItem item = Item(L"/small.bin?digest=none", L"unchecked.bin", false, L"small.bin");
    ASSERT_EQ(Run(item, L"small.bin"), 1);
    EXPECT_EQ(Count(lastLog, "Hash "), 0u);
}

TEST_F(DownloadFaults, MismatchOfTheFirstFileStopsTheListBeforeTheNext)
{
    CHttpDownloader2 downloader(false);
    DownloadItem items[2] = {Item(L"/big.bin?corrupt=9&list=1", L"first.bin", true),
                             Item(L"/small.bin?list=2", L"second.bin", false, L"small.bin")};
    EXPECT_EQ(downloader.DownloadFiles(items, 2), 0);
    EXPECT_FALSE(Exists(items[0].localPath));
    EXPECT_EQ(Requests("/small.bin?list=2"), 0u);
}

// Payloads that are no Windows program ----------------------------------------------------------

TEST_F(DownloadFaults, PortalPageOnceIsDeletedAndTheFileFetchedAgainFromByteZero)
{
    DownloadItem item = Item(L"/big.bin?portal=1", L"portal1.bin", true);
    ASSERT_EQ(Run(item), 1);
    g_figures.faults += 1;
    EXPECT_EQ(Count(lastLog, "Not a Windows program: " + NetEnv::AsLogged(item.localPath) + "\r\n"), 1u);
    // The check of the header comes first: the page never gets as far as its digest.
    EXPECT_EQ(Count(lastLog, "Hash mismatch: "), 0u);
    EXPECT_EQ(Count(lastLog, "Hash verified: "), 1u);
    const auto requests = NetEnv::FaultRequests("/big.bin?portal=1 ");
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_NE(requests[1].find("range=-"), std::string::npos);
    EXPECT_EQ(g_pauses, 0);
}

TEST_F(DownloadFaults, PortalPageTwiceFailsWithoutADigestAndLeavesNothing)
{
    DownloadItem item = Item(L"/small.bin?portal=9", L"portal9.exe", false, L"small.bin");
    EXPECT_EQ(Run(item, L"small.bin"), 0);
    g_figures.faults += 2;
    EXPECT_EQ(Count(lastLog, "Not a Windows program: " + NetEnv::AsLogged(item.localPath) + "\r\n"), 2u);
    EXPECT_EQ(Requests("/small.bin?portal=9"), 2u);
    EXPECT_FALSE(Exists(item.localPath));
}

// Regression: a length longer than the body of a file of 1 MiB or more once looped forever. Each
// attempt brought the same megabytes again and so earned fresh retries; only progress beyond
// the furthest offset ever reached may do that. The attempts are counted, and a loop that runs
// on is cut short by an abort, so that a regression fails here instead of hanging.
class AttemptCountingDownloader : public CHttpDownloader2 {
public:
    AttemptCountingDownloader() : CHttpDownloader2(false) {}
    bool ReadToFile(DownloadItem& item) override
    {
        if (++attempts >= kBound) AbortRequested.store(true);
        return CHttpDownloader2::ReadToFile(item);
    }
    static constexpr int kBound = 40;
    int attempts = 0;
};

TEST_F(DownloadFaults, LyingLengthOnAMegabyteFileGivesUpInsteadOfLoopingForever)
{
    DownloadItem item = Item(L"/dotnet.bin?lie=3000000&regression=1", L"lying.bin", false, L"dotnet.bin");
    AttemptCountingDownloader downloader;
    NetEnv::InstallerLogText();
    EXPECT_EQ(downloader.DownloadFiles(&item, 1), 0);
    EXPECT_LT(downloader.attempts, AttemptCountingDownloader::kBound) << "the retries never ran out";
    EXPECT_EQ(Count(NetEnv::InstallerLogText(), "download aborted..."), 0u);
    EXPECT_EQ(g_pauses, 4);  // 2, 4, 6 and 8 seconds, then the download fails
    g_figures.faults += 1;
}

// Resumes whose answer proves nothing ------------------------------------------------------------

// No digest here: only the answers themselves can show where a body belongs.
TEST_F(DownloadFaults, PartWithoutContentRangeIsAppendedOnlyWhenItsLengthIsTheRest)
{
    DownloadItem rest = Item(L"/stage2.bin?cut=30000&norange=1", L"norange.bin", false, L"stage2.bin");
    ASSERT_EQ(Run(rest, L"stage2.bin"), 1);
    const auto asked = NetEnv::FaultRequests("/stage2.bin?cut=30000&norange=1 ");
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_NE(asked[1].find("range=bytes=30000-299999"), std::string::npos);
    EXPECT_EQ(g_pauses, 0);

    // The whole file sent as the "part": dropped, and the file comes again without a range.
    DownloadItem whole = Item(L"/big.bin?cut=300000&wholepart=1", L"wholepart.bin", false);
    ASSERT_EQ(Run(whole), 1);
    const auto again = NetEnv::FaultRequests("/big.bin?cut=300000&wholepart=1 ");
    ASSERT_EQ(again.size(), 3u);
    EXPECT_NE(again[2].find("range=-"), std::string::npos);
    EXPECT_EQ(g_pauses, 1);
    g_figures.faults += 4;
}

TEST_F(DownloadFaults, RefusedRangeCompletesOnlyAFileOfTheKnownTotal)
{
    const std::vector<char> source = NetEnv::ReadAll(NetEnv::Served(L"small.bin"));
    ASSERT_EQ(source.size(), 5000u);
    // Everything is on disk already, and the range after its end is refused.
    DownloadItem item = Item(L"/small.bin?refuserange=1&whole=1", L"refused.bin", false, L"small.bin");
    ASSERT_TRUE(NetEnv::WriteAll(item.localPath, source));
    item.resumeOffset = 5000;
    ContentLength = 5000;
    ASSERT_EQ(Run(item, L"small.bin"), 1);
    EXPECT_EQ(Requests("/small.bin?refuserange=1&whole=1"), 1u);
    EXPECT_EQ(Count(lastLog, "the file on disk is complete"), 1u);
    EXPECT_EQ(g_positions.back(), 100);

    // A file shorter than the total it should have is not taken for complete: it comes again.
    DownloadItem shorter = Item(L"/small.bin?refuserange=1&whole=0", L"refused-short.bin", false, L"small.bin");
    ASSERT_TRUE(NetEnv::WriteAll(shorter.localPath, std::vector<char>(source.begin(), source.begin() + 4000)));
    shorter.resumeOffset = 5000;
    ContentLength = 5000;
    ASSERT_EQ(Run(shorter, L"small.bin"), 1);
    const auto asked = NetEnv::FaultRequests("/small.bin?refuserange=1&whole=0 ");
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_NE(asked[1].find("range=-"), std::string::npos);
    g_figures.faults += 2;
}

// A file replaced on the server during the run ------------------------------------------------

// Two versions of one served file, of the same length, so that only a validator can tell a part
// of one from a part of the other. The second lies beside the first as "<name>.next", which the
// server sends from the `swapafter`-th request on.
std::vector<char> ServeTwoVersions(const wchar_t* name, std::vector<char>* second)
{
    std::vector<char> first = NetEnv::ReadAll(NetEnv::Served(L"big.bin"));
    first.resize(400000);
    *second = first;
    for (size_t i = 1000; i < second->size(); i += 997) (*second)[i] = static_cast<char>((*second)[i] ^ 0x5A);
    EXPECT_TRUE(NetEnv::WriteAll(NetEnv::Served(name), first));
    EXPECT_TRUE(NetEnv::WriteAll(NetEnv::Served(name) + L".next", *second));
    // A date of its own for the second version, for the servers that validate by date.
    UniqueHandle file(CreateFileW((NetEnv::Served(name) + L".next").c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER time;
    time.LowPart = now.dwLowDateTime;
    time.HighPart = now.dwHighDateTime;
    time.QuadPart += 3600ULL * 10000000;
    const FILETIME later{time.LowPart, time.HighPart};
    EXPECT_TRUE(SetFileTime(file.Get(), nullptr, nullptr, &later));
    return first;
}

TEST_F(DownloadFaults, FileReplacedDuringTheRunEndsAsOneVersionNeverAMixture)
{
    std::vector<char> second;
    ServeTwoVersions(L"replaced.bin", &second);
    // Cut after 100000 bytes of the first version; the resume meets the second. Its If-Range
    // carries the first version's ETag, or, from a server without ETags, its date: the server
    // sends the whole second version, which replaces what is on disk.
    for (const wchar_t* query : {L"/replaced.bin?cut=100000&swapafter=1",
                                 L"/replaced.bin?cut=100000&swapafter=1&noetag=1&lastmod=1"}) {
        DownloadItem item = Item(query, L"replaced.bin", false, L"replaced.bin");
        ASSERT_EQ(Run(item, L"replaced.bin.next"), 1) << Narrow(query);
        const auto asked = NetEnv::FaultRequests(Narrow(query) + " ");
        ASSERT_EQ(asked.size(), 2u);
        EXPECT_NE(asked[1].find("range=bytes=100000-399999 ifrange="), std::string::npos) << asked[1];
        EXPECT_EQ(asked[1].find("ifrange=-"), std::string::npos) << asked[1];
        EXPECT_EQ(Count(lastLog, "Server ignored the range...downloading from the start"), 1u);
        g_figures.faults += 2;
    }
    // Unchanged, the same resume is appended.
    DownloadItem same = Item(L"/replaced.bin?cut=100000&swapafter=9", L"same.bin", false, L"replaced.bin");
    ASSERT_EQ(Run(same, L"replaced.bin"), 1);
    EXPECT_EQ(Count(lastLog, "Server ignored the range"), 0u);
    g_figures.faults += 1;
}

// Fault matrix ----------------------------------------------------------------------------------

struct FaultCase {
    const wchar_t* query;   // path and query on the fault server
    const wchar_t* source;  // the served file it must equal on success
    bool digest;            // the item carries the source's digest
    bool succeeds;
    int faults;             // faults the server injects in this run
    bool stalls = false;    // the server goes quiet: receive timeouts shortened
};

class FaultMatrix : public DownloadFaults, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(FaultMatrix, EndsByteIdenticalOrAsAFailure)
{
    const FaultCase& c = GetParam();
    const std::wstring name = L"matrix" + std::to_wstring(
        std::hash<std::wstring>()(c.query) % 100000) + L".bin";
    DownloadItem item = Item(c.query, name, c.digest, c.source);
    const int result = Run(item, c.source, c.stalls);
    g_figures.faults += c.faults;
    EXPECT_EQ(result, c.succeeds ? 1 : 0) << Narrow(c.query);
    if (c.succeeds && c.digest) {
        EXPECT_EQ(Count(lastLog, "Hash verified: "), 1u);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Server, FaultMatrix,
    ::testing::Values(
        // Connections cut at pseudo-random offsets, many times in one download.
        FaultCase{L"/big.bin?randomcuts=25&seed=1", L"big.bin", false, true, 25},
        FaultCase{L"/dotnet.bin?randomcuts=25&seed=2", L"dotnet.bin", true, true, 25},
        FaultCase{L"/stage2.bin?randomcuts=40&seed=3", L"stage2.bin", true, true, 40},
        // Every resume answered with 200 and the whole file.
        FaultCase{L"/big.bin?randomcuts=8&seed=4&ignorerange=1", L"big.bin", true, true, 16},
        // Error statuses end the download as a failure.
        FaultCase{L"/big.bin?status=404", L"big.bin", false, false, 1},
        FaultCase{L"/big.bin?status=500", L"big.bin", false, false, 1},
        FaultCase{L"/big.bin?status=503", L"big.bin", true, false, 1},
        // A length longer than the body: the missing part never comes.
        FaultCase{L"/big.bin?lie=1500000", L"big.bin", false, false, 1},
        FaultCase{L"/dotnet.bin?lie=3000000", L"dotnet.bin", false, false, 1},
        // A length shorter than the body: only the digest can tell.
        FaultCase{L"/big.bin?lie=600000", L"big.bin", true, false, 1},
        // A body without length cut short reads as a clean end: the digest catches it.
        FaultCase{L"/big.bin?nolength=1&cut=400000", L"big.bin", true, true, 1},
        // The server goes quiet mid-body, twice: each stall times out and the file resumes.
        FaultCase{L"/big.bin?stall=300000&cuts=2", L"big.bin", true, true, 2, true},
        // A chunked body cut short reads as a clean end too; the digest catches it and the
        // file comes once more, on a new request.
        FaultCase{L"/big.bin?chunked=1&cut=400000", L"big.bin", true, true, 1},
        // Resumes answered without a digest to catch a mistake: a range that does not parse
        // but has the length of the rest is appended; another start, another total or a
        // refused range bring the file again from byte 0.
        FaultCase{L"/big.bin?cut=300000&badrange=1", L"big.bin", false, true, 2},
        FaultCase{L"/big.bin?cut=300000&badstart=0", L"big.bin", false, true, 2},
        FaultCase{L"/big.bin?cut=300000&othertotal=2000000", L"big.bin", false, true, 2},
        FaultCase{L"/big.bin?cut=300000&refuserange=1", L"big.bin", false, true, 2},
        // Every resume answered with a part that cannot be placed: the restarts run out.
        FaultCase{L"/big.bin?cut=300000&cuts=20&wholepart=1", L"big.bin", false, false, 10},
        // A login portal's page in place of the file, and files cut inside the header: inside
        // the DOS header, and after the offset but before the signature it names.
        FaultCase{L"/big.bin?portal=9&matrix=1", L"big.bin", false, false, 2},
        FaultCase{L"/big.bin?head=60", L"big.bin", false, false, 2},
        FaultCase{L"/big.bin?head=67", L"big.bin", true, false, 2}));

}  // namespace
