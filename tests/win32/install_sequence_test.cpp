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
void AnswerMessageDialog(SeenDialog* seen, std::atomic<bool>* answered)
{
    HWND dialog = nullptr;
    const ULONGLONG end = GetTickCount64() + e2e::WaitLimitMs();
    while (!dialog && GetTickCount64() < end) {
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

TEST(InstallSequence, UserWithoutAdministratorRightsIsStoppedWithAMessage)
{
    const std::wstring run = BuildTreePath(L"run");
    ASSERT_FALSE(run.empty());
    // The run folder holds the text table and the skin, as beside the shipped program.
    ASSERT_TRUE(SetCurrentDirectoryW(run.c_str()));
    wchar_t tempBase[MAX_PATH];
    GetTempPathW(MAX_PATH, tempBase);
    const std::wstring temp = std::wstring(tempBase) + L"install_sequence_test_" +
                              std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(temp.c_str(), nullptr);
    SetEnvironmentVariableW(L"TEMP", temp.c_str());

    LocalizedText* texts = LocalizedText::Instance(L"en-GB");
    ASSERT_FALSE(texts->GetText(L"USER_NOT_ADMIN").empty());
    OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof version;
    GetVersionExW(&version);
    InstallerConfig::SupportedOsVersions = {static_cast<int>(version.dwMajorVersion * 100 + version.dwMinorVersion * 10)};

    SetAdminCheckForTesting([] { return false; });
    SeenDialog seen;
    std::atomic<bool> answered{false};
    std::thread robot(AnswerMessageDialog, &seen, &answered);
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
