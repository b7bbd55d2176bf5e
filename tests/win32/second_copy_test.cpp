#include <windows.h>
#include <gtest/gtest.h>

#include <string>

#include "support/installer_log.h"
#include "support/process_start.h"
#include "support/scratch_folder.h"
#include "support/win32_handle.h"
#include "tests/tools/support/wait_limit.h"

namespace {

// This test program plays the first copy: it owns the single-instance mutex and has its log
// open, then starts the real program as the second copy.
TEST(SecondCopy, EndsWithOneAndLeavesTheFirstCopysLogAlone)
{
    TempFolder logs(L"second-copy-log");
    TempFolder run(L"second-copy-run");
    ScopedEnvironmentVariable temp(L"TEMP", logs.Path().c_str());  // inherited by the child
    std::string config;
    ASSERT_TRUE(ReadWholeFile(SourceTreePath(L"data\\ConfigFile.txt"), config));
    ASSERT_TRUE(WriteWholeFile(run / L"ConfigFile.txt", config));
    const std::wstring exe = BuildTreePath(L"TarveloSetup.exe");
    ASSERT_TRUE(FileExists(exe));

    InstallerLog::Instance()->Write("first copy, before");
    SetLastError(ERROR_SUCCESS);
    UniqueHandle mutex(CreateMutexW(nullptr, TRUE, L"TarveloFisrtStage2.0"));
    ASSERT_TRUE(mutex);
    ASSERT_NE(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS)) << "another copy is running";

    HANDLE process = nullptr;
    {
        ScopedCurrentDirectory cwd(run.Path());
        ASSERT_TRUE(cwd.Changed());
        ASSERT_TRUE(StartProcess(L"\"" + exe + L"\"", &process));
    }
    UniqueHandle child(process);
    ASSERT_EQ(WaitForSingleObject(child.Get(), e2e::WaitLimitMs()), WAIT_OBJECT_0);
    DWORD code = 0;
    ASSERT_TRUE(GetExitCodeProcess(child.Get(), &code));
    EXPECT_EQ(code, 1u);

    InstallerLog::Instance()->Write("first copy, after");
    InstallerLog::Close();
    std::string content;
    ASSERT_TRUE(ReadWholeFile(logs / L"Tarvelo\\Logs\\InstallerLogs\\Stage1Logs.txt", content));
    EXPECT_EQ(content, "first copy, before\r\nfirst copy, after\r\n");
    ReleaseMutex(mutex.Get());
}

}  // namespace
