// The administrator stop of the install sequence. Under Wine the user is always an
// administrator, so the decision is replaced through the sequence's seam and the real message
// dialog is answered from a second thread.
#include <windows.h>
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "app/install_sequence.h"
#include "app/portable/unattended.h"
#include "app/run_options.h"
#include "support/installer_config.h"
#include "support/installer_log.h"
#include "support/localized_text.h"
#include "support/scratch_folder.h"
#include "tests/tools/support/wait_limit.h"

namespace {

std::wstring ControlText(HWND dialog, int id)
{
    wchar_t buffer[1024] = L"";
    GetDlgItemTextW(dialog, id, buffer, 1024);
    return buffer;
}

struct SeenDialog {
    std::wstring headline, body, link, firstButton;
    bool secondButtonVisible = true;
};

BOOL CALLBACK FindMessageDialog(HWND window, LPARAM param)
{
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid != GetCurrentProcessId() || !IsWindowVisible(window)) return TRUE;
    if (!GetDlgItem(window, 1030) || !GetDlgItem(window, 1029)) return TRUE;
    *reinterpret_cast<HWND*>(param) = window;
    return FALSE;
}

// Waits (bounded) for the message dialog, notes what it shows and presses its button.
void AnswerMessageDialog(SeenDialog* seen, std::atomic<bool>* answered, const std::atomic<bool>* stop = nullptr)
{
    HWND dialog = nullptr;
    const ULONGLONG end = GetTickCount64() + e2e::WaitLimitMs();
    while (!dialog && GetTickCount64() < end && !(stop && stop->load())) {
        EnumWindows(FindMessageDialog, reinterpret_cast<LPARAM>(&dialog));
        if (!dialog) Sleep(10);
    }
    if (!dialog) return;
    seen->headline = ControlText(dialog, 1030);
    seen->body = ControlText(dialog, 1014);
    seen->link = ControlText(dialog, 1029);
    seen->firstButton = ControlText(dialog, IDOK);
    seen->secondButtonVisible = IsWindowVisible(GetDlgItem(dialog, IDCANCEL)) != FALSE;
    PostMessageW(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
    *answered = true;
}

std::vector<std::string> LogLines(const std::wstring& temp)
{
    std::ifstream in(std::string(temp.begin(), temp.end()) + "\\Tarvelo\\Logs\\InstallerLogs\\Stage1Logs.txt",
                     std::ios::binary);
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        // The close control logs its image changes on mouse moves; they are not steps.
        if (line.find("ChangeBitMap") != std::string::npos) continue;
        lines.push_back(line);
    }
    return lines;
}

}  // namespace

// The run folder (text table and skin, as beside the shipped program) as the current folder, and a
// TEMP of the test's own; returns that TEMP.
std::wstring EnterRunFolder(const wchar_t* name)
{
    const std::wstring run = BuildTreePath(L"run");
    if (run.empty() || !SetCurrentDirectoryW(run.c_str())) return std::wstring();
    wchar_t tempBase[MAX_PATH];
    GetTempPathW(MAX_PATH, tempBase);
    const std::wstring temp = std::wstring(tempBase) + name + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(temp.c_str(), nullptr);
    SetEnvironmentVariableW(L"TEMP", temp.c_str());
    return temp;
}

TEST(InstallSequence, UserWithoutAdministratorRightsIsStoppedWithAMessage)
{
    const std::wstring temp = EnterRunFolder(L"install_sequence_test_");
    ASSERT_FALSE(temp.empty());

    LocalizedText* texts = LocalizedText::Instance(L"en-GB");
    ASSERT_FALSE(texts->GetText(L"USER_NOT_ADMIN").empty());
    OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof version;
    GetVersionExW(&version);
    InstallerConfig::SupportedOsVersions = {static_cast<int>(version.dwMajorVersion * 100 + version.dwMinorVersion * 10)};

    SetAdminCheckForTesting([] { return false; });
    SeenDialog seen;
    std::atomic<bool> answered{false};
    std::thread robot(AnswerMessageDialog, &seen, &answered, nullptr);
    const int result = RunInstallSequence(nullptr, nullptr);
    robot.join();
    SetAdminCheckForTesting(nullptr);
    InstallerLog::Close();

    EXPECT_EQ(result, 0);
    ASSERT_TRUE(answered.load()) << "no message dialog appeared";
    EXPECT_EQ(seen.headline, texts->GetText(L"CANNOT_INSTALL"));
    EXPECT_EQ(seen.body, texts->GetText(L"USER_NOT_ADMIN"));
    EXPECT_EQ(seen.firstButton, texts->GetText(L"OK_BUTTON"));
    EXPECT_EQ(seen.link, L"");
    EXPECT_FALSE(seen.secondButtonVisible);
    const std::vector<std::string> log = LogLines(temp);
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[log.size() - 2], "After Check_OS");
    EXPECT_EQ(log.back(), "User does not have admin rights...");
    // Passing the OS test frees the configured version list.
    EXPECT_TRUE(InstallerConfig::SupportedOsVersions.empty());
}

// Unattended, the same stop shows nothing (a deployment tool runs it with nobody at the screen,
// where a message would wait for ever) and ends with the code deployment tools read as a failed
// installation, its reason logged first. The rights cannot be taken away under Wine, hence the seam.
TEST(InstallSequence, UnattendedRunWithoutAdministratorRightsEndsWith1603AndNoWindow)
{
    const std::wstring temp = EnterRunFolder(L"install_sequence_quiet_");
    ASSERT_FALSE(temp.empty());
    OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof version;
    GetVersionExW(&version);
    InstallerConfig::SupportedOsVersions = {static_cast<int>(version.dwMajorVersion * 100 + version.dwMinorVersion * 10)};

    const InstallerOptions quiet = ParseInstallerCommandLine(L"TarveloSetup.exe /quiet");
    SetRunOptions(&quiet);
    SetAdminCheckForTesting([] { return false; });
    SeenDialog seen;
    std::atomic<bool> answered{false};
    std::atomic<bool> returned{false};
    // Answers a dialog that should never come, so that a fault ends the test instead of hanging
    // it; a run that returned has nothing left to show.
    std::thread robot(AnswerMessageDialog, &seen, &answered, &returned);
    const int result = RunInstallSequence(nullptr, nullptr);
    returned = true;
    robot.join();
    SetAdminCheckForTesting(nullptr);
    SetRunOptions(nullptr);
    InstallerLog::Close();

    EXPECT_EQ(result, 1603);
    EXPECT_FALSE(answered.load()) << "a dialog appeared in a quiet run";
    const std::vector<std::string> log = LogLines(temp);
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[log.size() - 2], "User does not have admin rights...");
    EXPECT_EQ(log.back(), "Exit code 1603: the installer has no administrator rights");
}
