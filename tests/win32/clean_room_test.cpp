// What the end-to-end runs cannot show of the clean room and the files in the user's reach: the
// access lists asked for and their failures, a folder set aside, hard links, a TEMP outside any
// profile, and a start by a path that leads elsewhere. Links are Unix symbolic links, which Wine
// shows as junctions.
#include <windows.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/clean_room.h"
#include "support/installer_log.h"
#include "support/portable/clean_room_rules.h"
#include "support/portable/narrow.h"
#include "support/scratch_folder.h"

namespace {

std::vector<std::wstring> g_sddls;
DWORD g_accessControlResult = ERROR_SUCCESS;

DWORD RecordAccessControl(HANDLE, const wchar_t* sddl)
{
    g_sddls.push_back(sddl);
    return g_accessControlResult;
}

std::string Logged(const std::wstring& text)
{
    std::string narrow;
    NarrowLatin1(text, narrow, '?');
    return narrow;
}

// Each test in a scratch folder of its own, with its own log (TEMP) and "%ProgramData%", and a
// file of another program's that must stay as it is.
class CleanRoomTest : public ::testing::Test {
protected:
    CleanRoomTest() : m_scratch(L"cleanroom"), m_temp(L"TEMP", (m_scratch / L"temp").c_str())
    {
        InstallerLog::Close();
        for (const wchar_t* name : {L"temp", L"programdata", L"elsewhere"}) CreateDirectoryW((m_scratch / name).c_str(), nullptr);
        WriteWholeFile(Elsewhere(), "another program's file\r\n");
        SetProgramDataForTesting(m_scratch / L"programdata");
        SetAccessControlCallForTesting(&RecordAccessControl);
        g_sddls.clear();
        g_accessControlResult = ERROR_SUCCESS;
    }
    ~CleanRoomTest() override
    {
        InstallerLog::Close();
        SetAccessControlCallForTesting(nullptr);
        SetProgramDataForTesting(L"");
    }
    std::wstring Elsewhere() const { return m_scratch / L"elsewhere\\file.txt"; }
    std::string LogText()
    {
        InstallerLog::Close();
        std::string text;
        ReadWholeFile(m_scratch / L"temp\\Tarvelo\\Logs\\InstallerLogs\\Stage1Logs.txt", text);
        return text;
    }
    void ExpectElsewhereUntouched()
    {
        std::string text;
        EXPECT_TRUE(ReadWholeFile(Elsewhere(), text) && text == "another program's file\r\n") << text;
    }

    TempFolder m_scratch;
    ScopedEnvironmentVariable m_temp;
};

TEST_F(CleanRoomTest, IsGivenItsProtectedListOnEveryRunAndAFileInItsPlaceIsSetAside)
{
    const std::wstring room = m_scratch / L"programdata\\Tarvelo\\Setup";
    ASSERT_TRUE(CreateDirectoryW((m_scratch / L"programdata\\Tarvelo").c_str(), nullptr));
    ASSERT_TRUE(WriteWholeFile(room, "planted"));
    EXPECT_EQ(PrepareCleanRoom(), room);
    EXPECT_EQ(GetFileAttributesW(room.c_str()), static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
    EXPECT_EQ(PrepareCleanRoom(), room);
    EXPECT_EQ(g_sddls, (std::vector<std::wstring>{kCleanRoomSddl, kCleanRoomSddl}));
    // A list that cannot be set is no clean room: the run stops. So does a link in place of
    // "%ProgramData%", which cannot be set aside.
    g_accessControlResult = ERROR_ACCESS_DENIED;
    EXPECT_EQ(PrepareCleanRoom(), L"");
    const std::wstring linked = m_scratch / L"linked-programdata";
    ASSERT_TRUE(MakeLink(linked, m_scratch / L"elsewhere"));
    SetProgramDataForTesting(linked);
    EXPECT_EQ(PrepareCleanRoom(), L"");
    ExpectElsewhereUntouched();

    const std::string log = LogText();
    EXPECT_NE(log.find(Logged(room) + " is not a folder, set aside as " + Logged(room) + ".aside-"), std::string::npos) << log;
    EXPECT_NE(log.find("ERROR: the working folder cannot be used: " + Logged(room) +
                       " could not be given its access list (error 5)\r\n"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("ERROR: the working folder cannot be used: " + Logged(linked) + " is a link\r\n"), std::string::npos);
    // What was set aside is there as it was.
    WIN32_FIND_DATAW found{};
    const HANDLE search = FindFirstFileW((room + L".aside-*").c_str(), &found);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    FindClose(search);
    std::string planted;
    EXPECT_TRUE(ReadWholeFile(m_scratch / (L"programdata\\Tarvelo\\" + std::wstring(found.cFileName)), planted));
    EXPECT_EQ(planted, "planted");
}

// The log's folders are checked from below the root when TEMP lies outside any profile, as
// "C:\Windows\Temp" does for a run as SYSTEM (here: the scratch folder by its Z: name); and a log
// file with a second name is not written either.
TEST_F(CleanRoomTest, TheLogIsNeverWrittenThroughALinkOrASecondName)
{
    const std::wstring linked = m_scratch / L"linked-temp";
    ASSERT_TRUE(CreateDirectoryW(linked.c_str(), nullptr));
    ASSERT_TRUE(MakeLink(linked + L"\\Tarvelo", m_scratch / L"elsewhere"));
    const std::wstring outside = UnixDrivePath(linked);
    ASSERT_EQ(outside.compare(0, 3, L"Z:\\"), 0) << Logged(outside);
    {
        ScopedEnvironmentVariable temp(L"TEMP", outside.c_str());
        Log("through the link");
        InstallerLog::Close();
    }
    ExpectElsewhereUntouched();

    const std::wstring logs = m_scratch / L"temp\\Tarvelo\\Logs\\InstallerLogs";
    Log("written");
    EXPECT_EQ(LogText(), "written\r\n");
    ASSERT_TRUE(DeleteFileW((logs + L"\\Stage1Logs.txt").c_str()));
    ASSERT_TRUE(CreateHardLinkW((logs + L"\\Stage1Logs.txt").c_str(), Elsewhere().c_str(), nullptr));
    Log("through the second name");
    InstallerLog::Close();
    ExpectElsewhereUntouched();
}

TEST_F(CleanRoomTest, TheProxyFileIsForItsUserOnlyFromItsFirstByte)
{
    const std::wstring file = m_scratch / L"ProxyInfo.proxy";
    EXPECT_TRUE(AppendToProxyFile(file, "ProxyServer=http://p:8080|@|"));
    EXPECT_TRUE(AppendToProxyFile(file, "UserName=u|@|Password=secret|@|ByPass=<local>"));
    // The user's own entry (S-1-5-21-...), then Administrators and SYSTEM, before each write.
    ASSERT_EQ(g_sddls.size(), 2u);
    EXPECT_EQ(g_sddls[0], g_sddls[1]);
    EXPECT_EQ(g_sddls[0].rfind(L"D:P(A;;FA;;;S-1-5-21-", 0), 0u);
    EXPECT_EQ(g_sddls[0].substr(g_sddls[0].find(L')') + 1), L"(A;;FA;;;BA)(A;;FA;;;SY)");
    g_accessControlResult = ERROR_ACCESS_DENIED;
    EXPECT_FALSE(AppendToProxyFile(file, "more"));
    std::string text;
    EXPECT_TRUE(ReadWholeFile(file, text));
    EXPECT_EQ(text, "ProxyServer=http://p:8080|@|UserName=u|@|Password=secret|@|ByPass=<local>");
    EXPECT_NE(LogText().find("Proxy file not written: " + Logged(file) + " could not be given its access list (error 5)\r\n"),
              std::string::npos);
}

// The held file starts only by its own path: a path through a link leads elsewhere.
TEST_F(CleanRoomTest, AStartByAPathThroughALinkIsRefused)
{
    const std::wstring real = m_scratch / L"real", linked = m_scratch / L"linked";
    ASSERT_TRUE(CreateDirectoryW(real.c_str(), nullptr));
    ASSERT_TRUE(CopyFileW(BuildTreePath(L"stub.exe").c_str(), (real + L"\\stage2.exe").c_str(), FALSE));
    ASSERT_TRUE(MakeLink(linked, real));
    const std::wstring viaLink = linked + L"\\stage2.exe";
    UniqueHandle held(CreateFileW((real + L"\\stage2.exe").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held.Valid());
    EXPECT_FALSE(StartCheckedProgram(viaLink, L"\"" + viaLink + L"\"", std::move(held), StartedProgram::SecondStage));
    EXPECT_FALSE(FileExists(real + L"\\stage2.exe.calls"));
    EXPECT_NE(LogText().find("Start refused: " + Logged(viaLink) + " leads to " + Logged(real) + "\\stage2.exe\r\n"),
              std::string::npos);
}

}  // namespace
