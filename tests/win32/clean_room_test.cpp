// The clean room of a release run and the files written in the user's reach, against links a
// program of the user could plant (Unix symbolic links, which Wine shows as junctions).
#include <windows.h>
#include <sddl.h>
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

std::vector<std::wstring> Names(const std::wstring& folder)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found{};
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    for (BOOL more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileW(search, &found))
        if (lstrcmpW(found.cFileName, L".") && lstrcmpW(found.cFileName, L"..")) names.push_back(found.cFileName);
    if (search != INVALID_HANDLE_VALUE) FindClose(search);
    return names;
}

std::string Logged(const std::wstring& text)
{
    std::string narrow;
    NarrowLatin1(text, narrow, '?');
    return narrow;
}

bool IsRealFolder(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
           !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// Each test in a scratch folder of its own, with its own log (TEMP) and "%ProgramData%"; outside
// it a folder a link may lead to, holding a file that must stay as it is.
class CleanRoomTest : public ::testing::Test {
protected:
    CleanRoomTest()
        : m_scratch(L"cleanroom"), m_temp(L"TEMP", (m_scratch / L"temp").c_str())
    {
        InstallerLog::Close();
        for (const wchar_t* name : {L"temp", L"programdata", L"elsewhere"}) CreateDirectoryW((m_scratch / name).c_str(), nullptr);
        WriteWholeFile(Elsewhere() + L"\\Stage1Logs.txt", "another program's file\r\n");
        SetProgramDataForTesting(m_scratch / L"programdata");
        g_sddls.clear();
        g_accessControlResult = ERROR_SUCCESS;
        SetAccessControlCallForTesting(&RecordAccessControl);
    }
    ~CleanRoomTest() override
    {
        InstallerLog::Close();
        SetAccessControlCallForTesting(nullptr);
        SetProgramDataForTesting(L"");
    }

    std::wstring ProgramData() const { return m_scratch / L"programdata"; }
    std::wstring Room() const { return ProgramData() + L"\\Tarvelo\\Setup"; }
    std::wstring Elsewhere() const { return m_scratch / L"elsewhere"; }
    std::wstring LogPath() const { return m_scratch / L"temp\\Tarvelo\\Logs\\InstallerLogs\\Stage1Logs.txt"; }

    std::string LogText()
    {
        InstallerLog::Close();
        std::string text;
        ReadWholeFile(LogPath(), text);
        return text;
    }
    void ExpectElsewhereUntouched()
    {
        EXPECT_EQ(Names(Elsewhere()), std::vector<std::wstring>{L"Stage1Logs.txt"});
        std::string text;
        EXPECT_TRUE(ReadWholeFile(Elsewhere() + L"\\Stage1Logs.txt", text));
        EXPECT_EQ(text, "another program's file\r\n");
    }

    TempFolder m_scratch;
    ScopedEnvironmentVariable m_temp;
};

TEST_F(CleanRoomTest, IsMadeAndGivenItsProtectedAccessListOnEveryRun)
{
    EXPECT_EQ(PrepareCleanRoom(), Room());
    EXPECT_TRUE(IsRealFolder(Room()));
    EXPECT_EQ(PrepareCleanRoom(), Room());
    EXPECT_EQ(g_sddls, (std::vector<std::wstring>{kCleanRoomSddl, kCleanRoomSddl}));

    // A list that cannot be set is no clean room: the run stops.
    g_accessControlResult = ERROR_ACCESS_DENIED;
    EXPECT_EQ(PrepareCleanRoom(), L"");
    EXPECT_NE(LogText().find("ERROR: the working folder cannot be used: " + Logged(Room()) +
                             " could not be given its access list (error 5)\r\n"),
              std::string::npos);
}

// A folder of the path that fails its check is renamed aside, through a handle to itself, and made
// anew. A link is renamed itself where the platform can open it as itself (Windows); Wine opens
// its target, so there the run ends instead. Neither follows it.
TEST_F(CleanRoomTest, ALinkOrAFileInItsPathIsSetAsideOrRefusedAndNeverFollowed)
{
    const struct {
        const wchar_t* planted;  // below "%ProgramData%"
        bool link;
    } cases[] = {{L"Tarvelo\\Setup", true}, {L"Tarvelo", true}, {L"Tarvelo\\Setup", false}};
    int index = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(Logged(c.planted));
        const std::wstring programData = m_scratch / (L"programdata" + std::to_wstring(++index));
        const std::wstring planted = programData + L"\\" + c.planted;
        ASSERT_TRUE(CreateDirectoryW(programData.c_str(), nullptr));
        if (c.planted[7] == L'\\') CreateDirectoryW((programData + L"\\Tarvelo").c_str(), nullptr);
        if (c.link)
            ASSERT_TRUE(MakeLink(planted, Elsewhere()));
        else
            ASSERT_TRUE(WriteWholeFile(planted, "planted"));
        InstallerLog::Close();
        DeleteFileW(LogPath().c_str());
        SetProgramDataForTesting(programData);

        const std::wstring room = PrepareCleanRoom();
        const std::string log = LogText();
        const std::string why = Logged(planted) + (c.link ? " is a link" : " is not a folder");
        ExpectElsewhereUntouched();
        if (room.empty()) {
            EXPECT_TRUE(c.link);
            EXPECT_NE(log.find(why + "\r\nERROR: the working folder cannot be used: " + Logged(planted) +
                               " could not be set aside"),
                      std::string::npos)
                << log;
            // The link is still there, leading where it led.
            EXPECT_TRUE(FileExists(planted + L"\\Stage1Logs.txt"));
            continue;
        }
        EXPECT_EQ(room, programData + L"\\Tarvelo\\Setup");
        EXPECT_TRUE(IsRealFolder(programData + L"\\Tarvelo"));
        EXPECT_TRUE(IsRealFolder(room));
        EXPECT_NE(log.find(why + ", set aside as " + Logged(planted) + ".aside-"), std::string::npos) << log;
        // What was set aside is still there, as it was.
        const size_t slash = planted.find_last_of(L'\\');
        bool found = false;
        for (const std::wstring& entry : Names(planted.substr(0, slash)))
            found = found || entry.rfind(planted.substr(slash + 1) + L".aside-", 0) == 0;
        EXPECT_TRUE(found);
    }
}

TEST_F(CleanRoomTest, ALinkInPlaceOfProgramDataEndsTheRun)
{
    const std::wstring linked = m_scratch / L"linked-programdata";
    ASSERT_TRUE(MakeLink(linked, Elsewhere()));
    SetProgramDataForTesting(linked);
    EXPECT_EQ(PrepareCleanRoom(), L"");
    ExpectElsewhereUntouched();
    EXPECT_NE(LogText().find("ERROR: the working folder cannot be used: " + Logged(linked) + " is a link\r\n"),
              std::string::npos);
}

// The log is opened only where nothing leads elsewhere; otherwise logging is off for the run and
// the file a link leads to is neither emptied nor written.
TEST_F(CleanRoomTest, TheLogIsNeverWrittenThroughALink)
{
    const std::wstring logs = m_scratch / L"temp\\Tarvelo\\Logs";
    ASSERT_TRUE(CreateDirectoryW((m_scratch / L"temp\\Tarvelo").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(logs.c_str(), nullptr));
    ASSERT_TRUE(MakeLink(logs + L"\\InstallerLogs", Elsewhere()));
    Log("through the folder link");
    InstallerLog::Close();
    ExpectElsewhereUntouched();

    // A link in the file's own place, and a second name (hard link) of the file.
    ASSERT_TRUE(RemoveLink(logs + L"\\InstallerLogs"));
    ASSERT_TRUE(CreateDirectoryW((logs + L"\\InstallerLogs").c_str(), nullptr));
    ASSERT_TRUE(MakeLink(LogPath(), Elsewhere() + L"\\Stage1Logs.txt"));
    Log("through the file link");
    InstallerLog::Close();
    ExpectElsewhereUntouched();
    ASSERT_TRUE(RemoveLink(LogPath()));
    ASSERT_TRUE(CreateHardLinkW(LogPath().c_str(), (Elsewhere() + L"\\Stage1Logs.txt").c_str(), nullptr));
    Log("through the second name");
    InstallerLog::Close();
    ASSERT_TRUE(DeleteFileW(LogPath().c_str()));
    ExpectElsewhereUntouched();

    // And where nothing leads elsewhere, it is written as always.
    Log("written");
    EXPECT_EQ(LogText(), "written\r\n");
}

// Run as SYSTEM the log lies below "C:\Windows\Temp", outside any profile, where every user may
// make folders: every folder below the root is checked there.
TEST_F(CleanRoomTest, OutsideTheProfileEveryFolderBelowTheRootIsChecked)
{
    const std::wstring temp = BuildTreePath(L"cleanroom-temp-" + std::to_wstring(GetCurrentProcessId()));
    ASSERT_EQ(temp.compare(0, 3, L"Z:\\"), 0);
    ASSERT_TRUE(CreateDirectoryW(temp.c_str(), nullptr));
    ASSERT_TRUE(MakeLink(temp + L"\\Tarvelo", Elsewhere()));
    {
        ScopedEnvironmentVariable systemTemp(L"TEMP", temp.c_str());
        Log("through the link");
        InstallerLog::Close();
    }
    EXPECT_TRUE(RemoveLink(temp + L"\\Tarvelo"));
    EXPECT_TRUE(RemoveDirectoryW(temp.c_str()));
    ExpectElsewhereUntouched();
}

std::wstring TokenUserSid()
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return L"";
    BYTE buffer[256];
    DWORD size = 0;
    LPWSTR text = nullptr;
    std::wstring result;
    if (GetTokenInformation(token, ::TokenUser, buffer, sizeof buffer, &size) &&
        ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &text)) {
        result = text;
        LocalFree(text);
    }
    CloseHandle(token);
    return result;
}

TEST_F(CleanRoomTest, TheProxyFileIsReadableByItsUserOnlyAndNeverWrittenThroughALink)
{
    const std::wstring folder = m_scratch / L"appdata";
    const std::wstring file = folder + L"\\ProxyInfo.proxy";
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    EXPECT_TRUE(AppendToProxyFile(file, "ProxyServer=http://p:8080|@|"));
    EXPECT_TRUE(AppendToProxyFile(file, "UserName=u|@|Password=secret|@|ByPass=<local>"));
    std::string text;
    EXPECT_TRUE(ReadWholeFile(file, text));
    EXPECT_EQ(text, "ProxyServer=http://p:8080|@|UserName=u|@|Password=secret|@|ByPass=<local>");
    // Before each write the file got a protected list for the user, Administrators and SYSTEM.
    ASSERT_FALSE(TokenUserSid().empty());
    EXPECT_EQ(g_sddls, std::vector<std::wstring>(2, UserFileSddl(TokenUserSid())));

    // A list that cannot be set: nothing is written.
    g_accessControlResult = ERROR_ACCESS_DENIED;
    EXPECT_FALSE(AppendToProxyFile(file, "more"));
    g_accessControlResult = ERROR_SUCCESS;
    // Held open by another program, a link in its place, a link in its path: not written through.
    {
        const HANDLE other = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(other, INVALID_HANDLE_VALUE);
        EXPECT_FALSE(AppendToProxyFile(file, "more"));
        CloseHandle(other);
    }
    ASSERT_TRUE(DeleteFileW(file.c_str()));
    ASSERT_TRUE(MakeLink(file, Elsewhere() + L"\\Stage1Logs.txt"));
    EXPECT_FALSE(AppendToProxyFile(file, "more"));
    // Deleted at start: the link goes where the platform can open it as itself (Windows); Wine
    // opens its target, and there it stays. What it leads to stays either way.
    DeleteProxyFile(file);
    const std::wstring linkedFolder = m_scratch / L"linked-appdata";
    ASSERT_TRUE(MakeLink(linkedFolder, Elsewhere()));
    EXPECT_FALSE(AppendToProxyFile(linkedFolder + L"\\Stage1Logs.txt", "more"));
    DeleteProxyFile(linkedFolder + L"\\Stage1Logs.txt");
    ExpectElsewhereUntouched();

    const std::string log = LogText();
    const std::string written = "Proxy file not written: " + Logged(file), deleted = "Proxy file not deleted: " + Logged(file);
    const std::string leadsElsewhere = " leads to " + Logged(Elsewhere()) + "\\Stage1Logs.txt\r\n";
    for (const std::string& line : {written + " could not be given its access list (error 5)\r\n",
                                    written + " is held open by another program\r\n",
                                    "Proxy file not written: " + Logged(linkedFolder) + " is a link\r\n",
                                    "Proxy file not deleted: " + Logged(linkedFolder) + " is a link\r\n"})
        EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;
    EXPECT_TRUE(log.find(written + " is a link\r\n") != std::string::npos || log.find(written + leadsElsewhere) != std::string::npos)
        << log;
    EXPECT_TRUE(!FileExists(file) || log.find(deleted + leadsElsewhere) != std::string::npos) << log;
}

UniqueHandle Hold(const std::wstring& path)
{
    return UniqueHandle(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
}

std::string StartRecord(const std::wstring& program)
{
    std::string calls;
    ReadWholeFile(program + L".calls", calls);
    return calls;
}

std::string JsonPath(const std::wstring& path)
{
    std::string json;
    for (char c : Logged(path)) {
        if (c == '\\') json += '\\';
        json += c;
    }
    return json;
}

// What starts is the file that was checked and held, by the path that was checked: no held file,
// or a path that leads elsewhere, starts nothing.
TEST_F(CleanRoomTest, OnlyTheHeldFileStartsAndOnlyByItsOwnPath)
{
    const std::wstring real = m_scratch / L"real", linked = m_scratch / L"linked";
    ASSERT_TRUE(CreateDirectoryW(real.c_str(), nullptr));
    ASSERT_TRUE(CopyFileW(BuildTreePath(L"stub.exe").c_str(), (real + L"\\stage2.exe").c_str(), FALSE));
    ASSERT_TRUE(MakeLink(linked, real));
    const std::wstring viaLink = linked + L"\\stage2.exe";
    EXPECT_FALSE(StartCheckedProgram(viaLink, L"\"" + viaLink + L"\"", UniqueHandle(), StartedProgram::SecondStage));
    EXPECT_FALSE(StartCheckedProgram(viaLink, L"\"" + viaLink + L"\"", Hold(real + L"\\stage2.exe"), StartedProgram::SecondStage));
    EXPECT_FALSE(FileExists(real + L"\\stage2.exe.calls"));
    const std::string log = LogText();
    EXPECT_NE(log.find("Start refused: " + Logged(viaLink) + " is not the file that was checked\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find("Start refused: " + Logged(viaLink) + " leads to " + Logged(real) + "\\stage2.exe\r\n"), std::string::npos)
        << log;
}

// In a release run the prerequisites run in the clean room with a TEMP of their own there, which
// goes when they have ended; the second stage runs there with the user's TEMP.
TEST_F(CleanRoomTest, ProgramsRunInTheCleanRoomAndPrerequisitesUnpackThere)
{
    ASSERT_EQ(PrepareCleanRoom(), Room());
    const std::wstring userTemp = m_scratch / L"temp";
    const std::wstring ownTemp = Room() + L"\\Temp-" + std::to_wstring(GetCurrentProcessId());
    ScopedEnvironmentVariable tmp(L"TMP", userTemp.c_str());
    for (const wchar_t* name : {L"prerequisite.exe", L"stage2.exe"}) {
        const std::wstring program = Room() + L"\\" + name;
        ASSERT_TRUE(CopyFileW(BuildTreePath(L"stub.exe").c_str(), program.c_str(), FALSE));
        HANDLE process = nullptr;
        const bool prerequisite = name[0] == L'p';
        ASSERT_TRUE(StartCheckedProgram(program, L"\"" + program + L"\"", Hold(program),
                                        prerequisite ? StartedProgram::Prerequisite : StartedProgram::SecondStage, &process));
        ASSERT_NE(process, nullptr);
        EXPECT_EQ(WaitForSingleObject(process, 60000), WAIT_OBJECT_0);
        CloseHandle(process);
        const std::string record = StartRecord(program);
        const std::string temp = JsonPath(prerequisite ? ownTemp : userTemp);
        EXPECT_NE(record.find("\"cwd\":\"" + JsonPath(Room())), std::string::npos) << record;
        EXPECT_NE(record.find("\"temp\":\"" + temp + "\",\"tmp\":\"" + temp + "\""), std::string::npos) << record;
        if (prerequisite) {
            EXPECT_TRUE(IsRealFolder(ownTemp));
            ASSERT_TRUE(WriteWholeFile(ownTemp + L"\\unpacked.dll", "what the package unpacked"));
            RemovePrerequisiteTemp();
            EXPECT_FALSE(FileExists(ownTemp));
        }
    }
}

}  // namespace
