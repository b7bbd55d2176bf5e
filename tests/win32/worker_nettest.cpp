// The download-and-install worker and the prerequisite installers, with recording stubs.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "download/progress_link.h"
#include "download/proxy_prompts.h"
#include "download/retry_pause.h"
#include "download/worker.h"
#include "prereq/installers.h"
#include "support/net_env.h"
#include "support/process_start.h"

namespace {
std::vector<int> g_positions;
std::vector<std::wstring> g_started;

void RecordPosition(int position) { g_positions.push_back(position); }
bool NoPause(DWORD) { return true; }

bool Contains(const std::string& haystack, const std::string& needle)
{
    return haystack.find(needle) != std::string::npos;
}

std::string ReadText(const std::wstring& path)
{
    const std::vector<char> bytes = NetEnv::ReadAll(path);
    return std::string(bytes.begin(), bytes.end());
}

class Worker : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!NetEnv::Available()) GTEST_SKIP() << "run through tests/servers/run_nettest.py";
        NetEnv::UseOwnTemp();
        NetEnv::ResetDownloadState();
        g_positions.clear();
        g_started.clear();
        ProgressLink::SetWaitLimitForTesting(0);
        ProgressLink::SetPositionObserverForTesting(&RecordPosition);
        SetRetryPauseHookForTesting(&NoPause);
        nginx = NetEnv::Port("TARVELO_NGINX_PORT");
        out = NetEnv::Work() + L"\\worker";
        CreateDirectoryW(out.c_str(), nullptr);
    }
    void TearDown() override
    {
        SetProcessStartHookForTesting(nullptr);
        ProgressLink::SetPositionObserverForTesting(nullptr);
    }
    void RecordStarts()
    {
        SetProcessStartHookForTesting([](const std::wstring& commandLine) {
            g_started.push_back(commandLine);
            return true;
        });
    }
    DownloadItem Item(const wchar_t* served, const std::wstring& name, int share, int step)
    {
        DownloadItem item;
        item.url = NetEnv::Url(nginx, std::wstring(L"/") + served);
        item.folder = out + L"\\" + name;
        CreateDirectoryW(item.folder.c_str(), nullptr);
        item.localPath = item.folder + L"\\" + name + L".exe";
        item.progressShare = share;
        item.progressStep = step;
        return item;
    }
    // A copy of the recording stub under the given name, told how to behave.
    std::wstring Stub(const std::wstring& folder, const std::wstring& name, const std::string& control)
    {
        CreateDirectoryW(folder.c_str(), nullptr);
        const std::wstring stub = NetEnv::WindowsPath(NetEnv::Unix("TARVELO_BUILD_DIR")) + L"\\stub.exe";
        const std::wstring path = folder + L"\\" + name;
        EXPECT_TRUE(CopyFileW(stub.c_str(), path.c_str(), FALSE)) << "stub.exe missing";
        DeleteFileW((path + L".calls").c_str());
        NetEnv::WriteAll(path + L".stub", std::vector<char>(control.begin(), control.end()));
        return path;
    }

    int nginx = 0;
    std::wstring out;
};

TEST_F(Worker, ThreeItemPlanInstallsWindowsInstallerBeforeDotNet)
{
    RecordStarts();
    CHttpDownloader2 downloader(true);
    DownloadItem items[3] = {Item(L"msi.bin", L"msi", 5, 20), Item(L"dotnet.bin", L"dotnet", 50, 2),
                             Item(L"stage2.bin", L"stage2", 5, 20)};
    EXPECT_EQ(DownloadAndInstall(items, downloader, 3), 1);
    ASSERT_EQ(g_started.size(), 2u);
    EXPECT_EQ(g_started[0], L"\"" + items[0].localPath + L"\" /quiet /norestart");
    EXPECT_EQ(g_started[1], L"\"" + items[1].folder + L"\\dotnetfx.exe\" /q:a /c:\"install.exe /q\"");
    EXPECT_TRUE(NetEnv::SameBytes(items[0].localPath, NetEnv::Served(L"msi.bin")));
    EXPECT_TRUE(NetEnv::SameBytes(items[1].localPath, NetEnv::Served(L"dotnet.bin")));
    EXPECT_TRUE(NetEnv::SameBytes(items[2].localPath, NetEnv::Served(L"stage2.bin")));
    // A start that yields no process handle leaves the bar at 100.
    EXPECT_EQ(g_positions.back(), 100);
    EXPECT_TRUE(Contains(NetEnv::InstallerLogText(), "All files successfully downloaded..starting to install files..."));
}

TEST_F(Worker, OneItemPlanInstallsNothingAndAFailedDownloadReturnsAtOnce)
{
    RecordStarts();
    {
        CHttpDownloader2 downloader(false);
        DownloadItem item = Item(L"stage2.bin", L"only", 100, 1);
        EXPECT_EQ(DownloadAndInstall(&item, downloader, 1), 1);
        EXPECT_TRUE(g_started.empty());
    }
    NetEnv::InstallerLogText();  // starts a fresh log
    {
        CHttpDownloader2 downloader(true);
        DownloadItem items[2] = {Item(L"missing.bin", L"missing", 50, 2), Item(L"stage2.bin", L"s2", 10, 10)};
        EXPECT_EQ(DownloadAndInstall(items, downloader, 2), 0);
        EXPECT_TRUE(g_started.empty());
        EXPECT_FALSE(Contains(NetEnv::InstallerLogText(), "All files successfully downloaded"));
    }
}

TEST_F(Worker, WindowsInstallerIsWaitedFor)
{
    const std::wstring exe = Stub(out + L"\\msistub", L"WindowsInstaller.exe", "sleep_ms=1500\n");
    InstallWindowsInstaller(exe);
    const std::string calls = ReadText(exe + L".calls");
    EXPECT_TRUE(Contains(calls, "\"event\":\"start\"")) << calls;
    EXPECT_TRUE(Contains(calls, "\"event\":\"end\"")) << calls;
    EXPECT_TRUE(Contains(calls, "/quiet")) << calls;
}

TEST_F(Worker, DotNetTakingTenSecondsMovesTheBarSixtyOneTwoThreeThenHundred)
{
    const std::wstring folder = out + L"\\dotnetstub";
    const std::wstring exe = Stub(folder, L"dotnetfx.exe", "sleep_ms=10000\n");
    CHttpDownloader2 downloader(true);
    downloader.InstallDotNet(folder);
    EXPECT_EQ(g_positions, (std::vector<int>{61, 62, 63, 100}));
    const std::string calls = ReadText(exe + L".calls");
    EXPECT_TRUE(Contains(calls, "\"event\":\"end\"")) << calls;
    EXPECT_TRUE(Contains(calls, "/q:a")) << calls;
}

TEST_F(Worker, DotNetThatCannotStartLeavesTheBarAtHundred)
{
    CHttpDownloader2 downloader(true);
    downloader.InstallDotNet(out + L"\\no-such-folder");
    EXPECT_EQ(g_positions, (std::vector<int>{100}));
}
}  // namespace
