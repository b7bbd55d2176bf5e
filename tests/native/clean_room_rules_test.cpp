// The decisions behind the clean room and the files written in the user's reach.
#include <gtest/gtest.h>

#include <vector>

#include "support/portable/clean_room_rules.h"

namespace {

const std::wstring kUser = L"S-1-5-21-1004336348-1177238915-682003330-1001";
const std::wstring kTrustedInstaller = L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

TEST(CleanRoomRules, AccessListsGiveNobodyElseAnythingAndInheritNothing)
{
    EXPECT_STREQ(kCleanRoomSddl, L"O:BAD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)");
    EXPECT_EQ(UserFileSddl(kUser), L"D:P(A;;FA;;;" + kUser + L")(A;;FA;;;BA)(A;;FA;;;SY)");
    // Run as SYSTEM (as deployment tools run it), the user is one of the two already named.
    EXPECT_EQ(UserFileSddl(L"S-1-5-18"), L"D:P(A;;FA;;;BA)(A;;FA;;;SY)");
}

TEST(CleanRoomRules, OnlyRealFoldersOfAdministratorsSystemOrTheSystemFoldersOwnerAreTrusted)
{
    const uint32_t folder = kAttributeDirectory;
    for (const std::wstring& owner : {std::wstring(L"S-1-5-32-544"), std::wstring(L"S-1-5-18"), kTrustedInstaller})
        EXPECT_EQ(JudgeFolder(folder, owner, kTrustedInstaller), FolderVerdict::Usable);
    // A folder a user made, and may therefore change, is not; nor one whose owner is unknown.
    EXPECT_EQ(JudgeFolder(folder, kUser, kTrustedInstaller), FolderVerdict::UntrustedOwner);
    EXPECT_EQ(JudgeFolder(folder, L"", L""), FolderVerdict::UntrustedOwner);
    // Under Wine the user owns every file, the system folder too.
    EXPECT_EQ(JudgeFolder(folder, kUser, kUser), FolderVerdict::Usable);
    EXPECT_EQ(JudgeFolder(folder | kAttributeReparsePoint, L"S-1-5-18", kTrustedInstaller), FolderVerdict::Link);
    EXPECT_EQ(JudgeFolder(0x20, L"S-1-5-18", kTrustedInstaller), FolderVerdict::NotAFolder);
}

std::vector<std::wstring> FoldersBelow(const std::wstring& path, size_t anchorLength)
{
    std::vector<std::wstring> folders;
    for (size_t end = 0; NextFolderBelow(path, anchorLength, &end);) folders.push_back(path.substr(0, end));
    return folders;
}

std::wstring DosForm(std::wstring finalPath)
{
    finalPath += L'\0';
    return std::wstring(&finalPath[DosFormOfFinalPath(&finalPath[0])]);
}

TEST(CleanRoomRules, WhichFoldersOfAPathAreCheckedAndWhereAPathLeads)
{
    EXPECT_EQ(PathRootLength(L"C:\\Users"), 3u);
    EXPECT_EQ(PathRootLength(L"\\\\server\\share\\x"), 15u);
    EXPECT_EQ(PathRootLength(L"\\\\?\\UNC\\server\\share\\x"), 21u);
    for (const wchar_t* notFull : {L"", L"C:x", L"\\Tarvelo", L"\\\\server", L"\\\\server\\\\x"})
        EXPECT_EQ(PathRootLength(notFull), 0u) << notFull;
    // Below the profile folder, which the user owns, every folder the user could replace; below
    // the root for a path outside it (C:\Windows\Temp, run as SYSTEM).
    EXPECT_EQ(FoldersBelow(L"C:\\Users\\Bob\\AppData\\Local\\Temp", 12),
              (std::vector<std::wstring>{L"C:\\Users\\Bob\\AppData", L"C:\\Users\\Bob\\AppData\\Local",
                                         L"C:\\Users\\Bob\\AppData\\Local\\Temp"}));
    EXPECT_EQ(FoldersBelow(L"C:\\Windows\\Temp\\", 3), (std::vector<std::wstring>{L"C:\\Windows", L"C:\\Windows\\Temp"}));
    // "C:\Users\Bob2" is not below "C:\Users\Bob".
    EXPECT_TRUE(FoldersBelow(L"C:\\Users\\Bob2\\x", 12).empty());
    EXPECT_TRUE(FoldersBelow(L"C:\\x", 0).empty());
    EXPECT_EQ(DosForm(L"\\\\?\\C:\\ProgramData\\a.exe"), L"C:\\ProgramData\\a.exe");
    EXPECT_EQ(DosForm(L"\\\\?\\UNC\\server\\share\\a.exe"), L"\\\\server\\share\\a.exe");
    EXPECT_EQ(DosForm(L"\\\\?"), L"\\\\?");
}

std::wstring Block(std::initializer_list<const wchar_t*> entries)
{
    std::wstring block;
    for (const wchar_t* entry : entries) block += std::wstring(entry) + L'\0';
    return block + L'\0';
}

TEST(CleanRoomRules, PrerequisitesGetTheirOwnTempAndEverythingElseAsItWas)
{
    // Replaced in place whatever case the block names it in; a second spelling goes; a name that
    // only begins like it stays.
    EXPECT_EQ(WithVariable(Block({L"=C:=C:\\x", L"Path=p", L"temp=u", L"Temp=v", L"TEMPLATES=t"}), L"TEMP", L"room"),
              Block({L"=C:=C:\\x", L"Path=p", L"TEMP=room", L"TEMPLATES=t"}));
    // Missing: inserted where the block's order by name puts it.
    EXPECT_EQ(WithVariable(Block({L"ALLUSERSPROFILE=a", L"windir=w"}), L"TMP", L"room"),
              Block({L"ALLUSERSPROFILE=a", L"TMP=room", L"windir=w"}));
    EXPECT_EQ(WithVariable(std::wstring(), L"TMP", L"room"), Block({L"TMP=room"}));
    EXPECT_EQ(WithVariable(std::wstring(L"A=1\0TEMP=old", 12), L"TEMP", L"new"), Block({L"A=1", L"TEMP=new"}));
}

}  // namespace
