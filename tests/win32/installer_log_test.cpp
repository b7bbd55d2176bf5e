#include <windows.h>
#include <shlobj.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/installer_log.h"
#include "support/scratch_folder.h"
#include "tests/tools/support/wait_limit.h"

namespace {

class InstallerLogTest : public ::testing::Test {
protected:
    InstallerLogTest() : m_scratch(L"log"), m_temp(L"TEMP", m_scratch.Path().c_str()) {}
    ~InstallerLogTest() override { InstallerLog::Close(); }

    std::wstring LogPath() const
    {
        return m_scratch / L"Tarvelo\\Logs\\InstallerLogs\\Stage1Logs.txt";
    }

    // The file's content once the log has let go of it (it is held exclusively while open).
    std::string ClosedLogContent()
    {
        InstallerLog::Close();
        std::string content;
        EXPECT_TRUE(ReadWholeFile(LogPath(), content));
        return content;
    }

    TempFolder m_scratch;
    ScopedEnvironmentVariable m_temp;
};

TEST_F(InstallerLogTest, EachCallIsOneLineEndingWithCrLf)
{
    InstallerLog* log = InstallerLog::Instance();
    ASSERT_NE(log, nullptr);
    EXPECT_EQ(InstallerLog::Instance(), log);
    log->Write("Starting to read ConfigFile");
    log->Write("");
    log->Write(std::string("bytes \x01\xFF kept", 13));
    log->WriteWide(L"wide line");
    log->WriteWide(L"");
    EXPECT_EQ(ClosedLogContent(),
              std::string("Starting to read ConfigFile\r\n\r\nbytes \x01\xFF kept\r\nwide line\r\n\r\n"));
}

TEST_F(InstallerLogTest, FileIsHeldExclusivelyWhileOpen)
{
    InstallerLog::Instance()->Write("line");
    const HANDLE other = CreateFileW(LogPath().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_EQ(other, INVALID_HANDLE_VALUE);
    if (other != INVALID_HANDLE_VALUE) CloseHandle(other);
}

TEST_F(InstallerLogTest, ReopeningAfterCloseKeepsOnlyTheNewRun)
{
    InstallerLog* first = InstallerLog::Instance();
    first->Write("first run");
    InstallerLog::Close();
    first->Write("written through a stale pointer");  // dropped, and no crash
    InstallerLog::Instance()->Write("second run");
    EXPECT_EQ(ClosedLogContent(), "second run\r\n");
    InstallerLog::Close();  // closing twice is harmless
}

TEST_F(InstallerLogTest, AnEarlierFileIsEmptiedAtStart)
{
    ASSERT_TRUE(CreateDirectoryW((m_scratch / L"Tarvelo").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((m_scratch / L"Tarvelo\\Logs").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((m_scratch / L"Tarvelo\\Logs\\InstallerLogs").c_str(), nullptr));
    ASSERT_TRUE(WriteWholeFile(LogPath(), std::string(10000, 'x')));
    InstallerLog::Instance()->Write("new");
    EXPECT_EQ(ClosedLogContent(), "new\r\n");
}

TEST_F(InstallerLogTest, FileHeldByAnotherProgramTurnsLoggingOffSilently)
{
    ASSERT_EQ(SHCreateDirectoryExW(nullptr, (m_scratch / L"Tarvelo\\Logs\\InstallerLogs").c_str(),
                                   nullptr),
              ERROR_SUCCESS);
    ASSERT_TRUE(WriteWholeFile(LogPath(), "someone else's\r\n"));
    const HANDLE holder = CreateFileW(LogPath().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    InstallerLog* log = InstallerLog::Instance();
    ASSERT_NE(log, nullptr);
    log->Write("dropped");
    log->WriteWide(L"dropped too");
    CloseHandle(holder);
    EXPECT_EQ(ClosedLogContent(), "someone else's\r\n");
}

TEST_F(InstallerLogTest, WideTextUsesTheAnsiCodePageAndItsReplacement)
{
    if (GetACP() != 1252) GTEST_SKIP() << "expects code page 1252, have " << GetACP();
    InstallerLog::Instance()->WriteWide(L"caf\x00E9 \x20AC \x4E2D!");
    EXPECT_EQ(ClosedLogContent(), "caf\xE9 \x80 ?!\r\n");
}

struct WriterArgs {
    std::string line;
    int count;
};

DWORD WINAPI WriterThread(void* parameter)
{
    const auto* args = static_cast<WriterArgs*>(parameter);
    for (int i = 0; i < args->count; ++i) InstallerLog::Instance()->Write(args->line);
    return 0;
}

TEST_F(InstallerLogTest, LinesFromTwoThreadsNeverInterleave)
{
    const int count = 2000;
    WriterArgs a{std::string(300, 'a'), count};
    WriterArgs b{std::string(700, 'b'), count};
    InstallerLog::Instance();  // created before the race, as start-up does
    HANDLE threads[2] = {CreateThread(nullptr, 0, WriterThread, &a, 0, nullptr),
                         CreateThread(nullptr, 0, WriterThread, &b, 0, nullptr)};
    ASSERT_NE(threads[0], nullptr);
    ASSERT_NE(threads[1], nullptr);
    ASSERT_EQ(WaitForMultipleObjects(2, threads, TRUE, e2e::WaitLimitMs()), WAIT_OBJECT_0);
    CloseHandle(threads[0]);
    CloseHandle(threads[1]);

    const std::string content = ClosedLogContent();
    int seenA = 0, seenB = 0;
    size_t pos = 0;
    while (pos < content.size()) {
        const size_t end = content.find("\r\n", pos);
        ASSERT_NE(end, std::string::npos);
        const std::string line = content.substr(pos, end - pos);
        if (line == a.line) ++seenA;
        else if (line == b.line) ++seenB;
        else FAIL() << "mixed line at offset " << pos;
        pos = end + 2;
    }
    EXPECT_EQ(seenA, count);
    EXPECT_EQ(seenB, count);
}

TEST(InstallerLogPaths, TooLongTempTurnsLoggingOffInsteadOfWritingElsewhere)
{
    TempFolder scratch(L"logpath");
    // Together with the log's own folders this passes the platform's path limit.
    std::wstring deep = scratch.Path();
    while (deep.size() < MAX_PATH - 20) deep += L"\\deeper";
    ASSERT_EQ(SHCreateDirectoryExW(nullptr, deep.c_str(), nullptr), ERROR_SUCCESS);
    ScopedEnvironmentVariable temp(L"TEMP", deep.c_str());
    InstallerLog* log = InstallerLog::Instance();
    ASSERT_NE(log, nullptr);
    log->Write("nowhere");
    InstallerLog::Close();
    EXPECT_FALSE(FileExists(deep + L"\\Tarvelo"));
}

}  // namespace
