// The download-and-install worker and the prerequisite installers, with recording stubs.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/progress_link.h"
#include "app/proxy_prompts.h"
#include "download/retry_pause.h"
#include "download/payload_check.h"
#include "app/worker.h"
#include "prereq/installers.h"
#include "resources/resource.h"
#include "support/dialog_driver.h"
#include "support/net_env.h"
#include "support/portable/signer_pins.h"
#include "support/process_start.h"
#include "support/progress_run.h"
#include "support/win_event_recorder.h"
#include "ui/dialogs/dependency_dialog.h"

namespace {
// The progress dialog takes its texts from the run folder's table.
const auto* const g_env = ::testing::AddGlobalTestEnvironment(new dialog_driver::RunFolderEnvironment);

std::vector<int> g_positions;
std::vector<std::wstring> g_started;

void RecordPosition(int position) { g_positions.push_back(position); }
bool NoPause(DWORD) { return true; }

bool Contains(const std::string& haystack, const std::string& needle)
{
    return haystack.find(needle) != std::string::npos;
}

// The file held as the installer holds a checked download until its program starts.
UniqueHandle Hold(const std::wstring& path)
{
    return UniqueHandle(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
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
        SetBeforeProcessStartHookForTesting(nullptr);
        ProgressLink::SetPositionObserverForTesting(nullptr);
    }
    void RecordStarts()
    {
        SetProcessStartHookForTesting([](const std::wstring& commandLine) {
            g_started.push_back(commandLine);
            return true;
        });
    }
    DownloadItem Item(const wchar_t* served, const std::wstring& name, int share, int step,
                      PackageRole role = PackageRole::Stage2)
    {
        DownloadItem item;
        item.role = role;
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
        const std::wstring stub = NetEnv::WindowsPath(L"TARVELO_BUILD_DIR") + L"\\stub.exe";
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
    DownloadItem items[3] = {Item(L"msi.bin", L"msi", 5, 20, PackageRole::WindowsInstaller),
                             Item(L"dotnet.bin", L"dotnetfx", 50, 2, PackageRole::DotNet),
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
        DownloadItem items[2] = {Item(L"missing.bin", L"missing", 50, 2, PackageRole::DotNet),
                                 Item(L"stage2.bin", L"s2", 10, 10)};
        EXPECT_EQ(DownloadAndInstall(items, downloader, 2), 0);
        EXPECT_TRUE(g_started.empty());
        EXPECT_FALSE(Contains(NetEnv::InstallerLogText(), "All files successfully downloaded"));
    }
}

TEST_F(Worker, WindowsInstallerIsWaitedFor)
{
    const std::wstring exe = Stub(out + L"\\msistub", L"WindowsInstaller.exe", "sleep_ms=1500\n");
    InstallWindowsInstaller(exe, Hold(exe));
    const std::string calls = ReadText(exe + L".calls");
    EXPECT_TRUE(Contains(calls, "\"event\":\"start\"")) << calls;
    EXPECT_TRUE(Contains(calls, "\"event\":\"end\"")) << calls;
    EXPECT_TRUE(Contains(calls, "/quiet")) << calls;
}

// The .NET installer runs until the bar shows 63: the installer's waits are short until then,
// and long enough for any machine to see the end within one afterwards, so the bar's positions
// depend on no machine's speed.
std::wstring g_dotNetRelease;

void ReleaseDotNetAt63(int position)
{
    RecordPosition(position);
    if (position != 63) return;
    SetDotNetWaitSliceForTesting(dialog_driver::WaitLimitMs());
    NetEnv::WriteAll(g_dotNetRelease, {});
}

std::string Utf8(const std::wstring& text)
{
    const int length = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(length > 0 ? static_cast<size_t>(length) : 1u, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &out[0], length, nullptr, nullptr);
    out.resize(out.size() - 1);
    return out;
}

TEST_F(Worker, DotNetMovesTheBarOnePointPerWaitItOutlastsThenToHundred)
{
    const std::wstring folder = out + L"\\dotnetstub";
    g_dotNetRelease = folder + L"\\released";
    DeleteFileW(g_dotNetRelease.c_str());
    const std::wstring exe = Stub(folder, L"dotnetfx.exe", "wait_for=" + Utf8(g_dotNetRelease) + "\n");
    ProgressLink::SetPositionObserverForTesting(&ReleaseDotNetAt63);
    SetDotNetWaitSliceForTesting(50);
    CHttpDownloader2 downloader(true);
    ASSERT_TRUE(downloader.checkedFiles.Keep(exe, Hold(exe)));
    downloader.InstallDotNet(folder);
    SetDotNetWaitSliceForTesting(3000);
    EXPECT_EQ(g_positions, (std::vector<int>{61, 62, 63, 100}));
    const std::string calls = ReadText(exe + L".calls");
    EXPECT_TRUE(Contains(calls, "\"event\":\"end\"")) << calls;
    EXPECT_TRUE(Contains(calls, "/q:a")) << calls;
}

// Runs swap.exe on `path` from another process and returns what it printed: one line per attempt.
std::string RunSwap(const std::wstring& path)
{
    const std::wstring swap = NetEnv::WindowsPath(L"TARVELO_BUILD_DIR") + L"\\swap.exe";
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    HANDLE read = nullptr, write = nullptr;
    if (!CreatePipe(&read, &write, &inherit, 0)) return "no pipe";
    SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = write;
    startup.hStdError = write;
    std::wstring line = L"\"" + swap + L"\" \"" + path + L"\"";
    PROCESS_INFORMATION info{};
    const BOOL started = CreateProcessW(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &info);
    CloseHandle(write);
    std::string out;
    char buffer[512];
    DWORD got = 0;
    while (started && ReadFile(read, buffer, sizeof buffer, &got, nullptr) && got > 0) out.append(buffer, got);
    CloseHandle(read);
    if (!started) return "swap.exe missing";
    WaitForSingleObject(info.hProcess, dialog_driver::WaitLimitMs());
    CloseHandle(info.hProcess);
    CloseHandle(info.hThread);
    return out;
}

std::string Hex(const Sha256::Digest& digest)
{
    std::string hex;
    for (unsigned char byte : digest) {
        hex += "0123456789abcdef"[byte >> 4];
        hex += "0123456789abcdef"[byte & 15];
    }
    return hex;
}

// Between the check of each prerequisite and its start, another process tries to overwrite,
// rename, replace and delete it; every attempt fails, and what starts is what was checked.
TEST_F(Worker, CheckedPrerequisitesCannotBeChangedBeforeTheyStart)
{
    const std::wstring program = NetEnv::Served(L"program.exe");
    const std::wstring stub = NetEnv::WindowsPath(L"TARVELO_BUILD_DIR") + L"\\stub.exe";
    ASSERT_TRUE(CopyFileW(stub.c_str(), program.c_str(), FALSE));
    Sha256::Digest served{};
    ASSERT_TRUE(DigestOfFile(program, &served));
    static std::vector<std::string> attempts;
    attempts.clear();
    SetBeforeProcessStartHookForTesting([](const std::wstring& commandLine) {
        attempts.push_back(RunSwap(commandLine.substr(1, commandLine.find(L'"', 1) - 1)));
    });
    SetDotNetWaitSliceForTesting(50);
    CHttpDownloader2 downloader(true);
    DownloadItem items[3] = {Item(L"program.exe", L"msi", 5, 20, PackageRole::WindowsInstaller),
                             Item(L"program.exe", L"dotnetfx", 50, 2, PackageRole::DotNet),
                             Item(L"program.exe", L"stage2", 5, 20)};
    ASSERT_EQ(DownloadAndInstall(items, downloader, 3), 1);
    SetDotNetWaitSliceForTesting(3000);
    ASSERT_EQ(attempts.size(), 2u);
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(attempts[i]);
        for (const char* what : {"overwrite", "rename", "replace", "delete"})
            EXPECT_TRUE(Contains(attempts[i], std::string("\"what\":\"") + what + "\",\"ok\":false")) << what;
        const std::string calls = ReadText(items[i].localPath + L".calls");
        EXPECT_TRUE(Contains(calls, "\"sha256\":\"" + Hex(served) + "\"")) << calls;
        EXPECT_TRUE(NetEnv::SameBytes(items[i].localPath, program));
    }
    // Once started, the file is let go: its owner may do with it what it likes.
    EXPECT_TRUE(Contains(RunSwap(items[0].localPath), "\"what\":\"delete\",\"ok\":true"));
    // The second stage stays held until the hand-over starts it.
    EXPECT_TRUE(Contains(RunSwap(items[2].localPath), "\"what\":\"delete\",\"ok\":false"));
}

// Signed payloads: the wrapper (run_nettest.py --code-signing) runs this program in a prefix of
// its own where the test root is trusted, serves the stub signed by each test certificate, and
// hands over the certificates' pins.
SignerPins PinOf(const char* certificate)
{
    SignerPins pins;
    EXPECT_TRUE(ParseSignerPins(NetEnv::Unix((std::string("TARVELO_PIN_") + certificate).c_str()), &pins) &&
                !pins.empty())
        << certificate;
    return pins;
}

size_t CountLines(const std::string& log, const std::string& line)
{
    size_t count = 0;
    for (size_t at = log.find(line); at != std::string::npos; at = log.find(line, at + 1)) ++count;
    return count;
}

class SignedWorker : public Worker {
protected:
    void SetUp() override
    {
        Worker::SetUp();
        if (!IsSkipped() && NetEnv::Unix("TARVELO_PIN_PUBLISHER").empty())
            GTEST_SKIP() << "run through tests/servers/run_nettest.py --code-signing";
    }
};

TEST_F(SignedWorker, PrerequisitesSignedByTheirPinnedPublisherAreInstalled)
{
    RecordStarts();
    NetEnv::InstallerLogText();  // starts a fresh log
    CHttpDownloader2 downloader(true);
    DownloadItem items[3] = {Item(L"signed-prereq.exe", L"msi", 5, 20, PackageRole::WindowsInstaller),
                             Item(L"signed-prereq.exe", L"dotnetfx", 50, 2, PackageRole::DotNet),
                             Item(L"signed-publisher.exe", L"stage2", 5, 20)};
    items[0].signers = PinOf("PREREQ");        // the publisher's own certificate
    items[1].signers = PinOf("INTERMEDIATE");  // the authority that issued it
    items[2].signers = PinOf("PUBLISHER");
    items[2].signers.insert(items[2].signers.begin(), PinOf("STRANGER")[0]);  // one of several
    ASSERT_EQ(DownloadAndInstall(items, downloader, 3), 1);
    EXPECT_EQ(g_started.size(), 2u);
    const std::string log = NetEnv::InstallerLogText();
    for (const DownloadItem& item : items) {
        EXPECT_EQ(CountLines(log, "Signer verified: " + NetEnv::AsLogged(item.localPath) + "\r\n"), 1u) << log;
        EXPECT_TRUE(NetEnv::SameBytes(item.localPath, NetEnv::Served(item.role == PackageRole::Stage2
                                                                          ? L"signed-publisher.exe"
                                                                          : L"signed-prereq.exe")));
    }
}

// Each prerequisite that is not validly signed by its pinned publisher is fetched twice, refused
// both times with the reason, deleted, and nothing is installed.
TEST_F(SignedWorker, PrerequisiteNotSignedByItsPinnedPublisherIsNeverInstalled)
{
    const struct {
        const wchar_t* served;
        const char* pin;
        PackageRole role;
        const char* refusal;
        std::vector<std::string> codes;  // the codes the refusal may carry; none for a pin refusal
    } cases[] = {
        {L"changed-prereq.exe", "PREREQ", PackageRole::DotNet, "Signature check failed: ", {"0x80096010"}},
        {L"unsigned.exe", "PREREQ", PackageRole::WindowsInstaller, "Signature check failed: ", {"0x800b0100"}},
        {L"signed-impostor.exe", "PREREQ", PackageRole::DotNet, "Signer not trusted: ", {}},
        // Under Wine 8 WinVerifyTrust passes it; the chain's own status refuses the untrusted root.
        {L"signed-stranger.exe", "STRANGER", PackageRole::DotNet, "Signature check failed: ",
         {"0x00000020", "0x800b0109"}},
        // Signed by the second stage's publisher, not by the prerequisites'.
        {L"signed-publisher.exe", "PREREQ", PackageRole::WindowsInstaller, "Signer not trusted: ", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(NetEnv::AsLogged(c.served));
        RecordStarts();
        g_started.clear();
        NetEnv::InstallerLogText();
        CHttpDownloader2 downloader(true);
        const bool msi = c.role == PackageRole::WindowsInstaller;
        std::vector<DownloadItem> items;
        if (msi) items.push_back(Item(c.served, L"msi", 5, 20, PackageRole::WindowsInstaller));
        items.push_back(Item(msi ? L"signed-prereq.exe" : c.served, L"dotnetfx", 50, 2, PackageRole::DotNet));
        items.push_back(Item(L"signed-publisher.exe", L"stage2", msi ? 5 : 10, msi ? 20 : 10));
        DownloadItem& refused = items[0];
        for (DownloadItem& item : items) item.signers = PinOf(item.role == PackageRole::Stage2 ? "PUBLISHER" : "PREREQ");
        refused.signers = PinOf(c.pin);
        EXPECT_EQ(DownloadAndInstall(items.data(), downloader, static_cast<int>(items.size())), 0);
        EXPECT_TRUE(g_started.empty());
        EXPECT_EQ(GetFileAttributesW(refused.localPath.c_str()), INVALID_FILE_ATTRIBUTES);
        const std::string log = NetEnv::InstallerLogText();
        const std::string line = c.refusal + NetEnv::AsLogged(refused.localPath);
        size_t count = 0;
        if (c.codes.empty()) {
            count = CountLines(log, line + "\r\n");
        } else {
            for (const std::string& code : c.codes) count += CountLines(log, line + " (error " + code + ")\r\n");
        }
        EXPECT_EQ(count, 2u) << log;  // fetched once more, refused again
        EXPECT_FALSE(Contains(log, "All files successfully downloaded")) << log;
    }
}

// What a screen reader hears while a download moves the bar and the installation follows: every
// new percentage of the bar, once, and each text of the dialog that changes, as a name change and
// as a change of a live region.
TEST_F(Worker, ScreenReaderHearsTheBarMoveAndTheTextsChange)
{
    WinEventRecorder events;
    ASSERT_TRUE(events.Hooked());
    RecordStarts();
    ProgressRun run(TRUE, dialog_driver::Text(L"DIALOG_CAPTION"), dialog_driver::Text(L"DOWNLOADING_DOTNET"));
    ASSERT_NE(run.window, nullptr);
    HWND bar = GetDlgItem(run.window, IDC_PROGRESS);
    events.Settle();
    events.Clear();

    CHttpDownloader2 downloader(true);
    DownloadItem items[2] = {Item(L"dotnet.bin", L"dotnetfx", 50, 2, PackageRole::DotNet), Item(L"stage2.bin", L"stage2", 5, 20)};
    EXPECT_EQ(DownloadAndInstall(items, downloader, 2), 1);
    // The download did not wait for the dialog: what it handed over is shown by now.
    ASSERT_TRUE(SettleProgressDialog(run.window));
    events.Settle();

    int changes = 0, last = 0;
    for (int position : g_positions) {
        changes += position != last;
        last = position;
    }
    EXPECT_GE(changes, 50);
    EXPECT_EQ(events.Count(EVENT_OBJECT_VALUECHANGE, bar), changes);
    EXPECT_EQ(run.dialog->m_progress.GetPos(), g_positions.back());
    // The texts are live regions: a screen reader speaks each change without the focus there.
    for (int id : {IDC_BODY, IDC_HEADLINE, IDC_PROGRESS_LINE}) {
        EXPECT_EQ(events.Count(EVENT_OBJECT_NAMECHANGE, GetDlgItem(run.window, id)), 1) << "control " << id;
        EXPECT_EQ(events.Count(EVENT_OBJECT_LIVEREGIONCHANGED, GetDlgItem(run.window, id)), 1) << "control " << id;
    }
    EXPECT_EQ(run.End(), 0);
}

// The .NET command line starts "<folder>\dotnetfx.exe". A package downloaded and checked under
// another name is not that program: whatever lies there (here a program planted beside it) is
// not started.
TEST_F(Worker, DotNetDownloadedUnderAnotherNameIsNotStarted)
{
    RecordStarts();
    NetEnv::InstallerLogText();  // starts a fresh log
    CHttpDownloader2 downloader(true);
    DownloadItem items[2] = {Item(L"dotnet.bin", L"dotnet", 50, 2, PackageRole::DotNet), Item(L"stage2.bin", L"stage2", 5, 20)};
    Stub(items[0].folder, L"dotnetfx.exe", "");
    EXPECT_EQ(DownloadAndInstall(items, downloader, 2), 1);
    EXPECT_TRUE(g_started.empty());
    EXPECT_EQ(g_positions.back(), 100);
    const std::string log = NetEnv::InstallerLogText();
    EXPECT_TRUE(Contains(log, "Start refused: " + NetEnv::AsLogged(items[0].folder + L"\\dotnetfx.exe") +
                                  " is not the file that was checked\r\n"))
        << log;
}

TEST_F(Worker, DotNetThatCannotStartLeavesTheBarAtHundred)
{
    CHttpDownloader2 downloader(true);
    downloader.InstallDotNet(out + L"\\no-such-folder");
    EXPECT_EQ(g_positions, (std::vector<int>{100}));
}
}  // namespace
