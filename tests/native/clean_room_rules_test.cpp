// The decisions behind the clean room and the files written in the user's reach: what access the
// installer gives, which folders it trusts, which folders of a path it checks, and what
// environment its prerequisites get.
#include <gtest/gtest.h>

#include <vector>

#include "support/portable/clean_room_rules.h"

namespace {

const uint32_t kFolder = kAttributeDirectory;
const uint32_t kLink = kAttributeDirectory | kAttributeReparsePoint;
const std::wstring kUser = L"S-1-5-21-1004336348-1177238915-682003330-1001";
const std::wstring kTrustedInstaller = L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

TEST(CleanRoomRules, AccessListsGiveNobodyElseAnythingAndInheritNothing)
{
    // Owner Administrators; protected ("P"): nothing inherited from above; full control for
    // Administrators and SYSTEM, passed on to what is made below; no other entry.
    EXPECT_STREQ(kCleanRoomSddl, L"O:BAD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)");
    EXPECT_EQ(UserFileSddl(kUser), L"D:P(A;;FA;;;" + kUser + L")(A;;FA;;;BA)(A;;FA;;;SY)");
    // Run as SYSTEM (as deployment tools run it), the user is one of the two already named.
    EXPECT_EQ(UserFileSddl(L"S-1-5-18"), L"D:P(A;;FA;;;BA)(A;;FA;;;SY)");
    EXPECT_EQ(UserFileSddl(L"s-1-5-32-544"), L"D:P(A;;FA;;;BA)(A;;FA;;;SY)");
}

TEST(CleanRoomRules, OnlyRealFoldersOfAdministratorsSystemOrTheSystemFoldersOwnerAreTrusted)
{
    EXPECT_EQ(JudgeFolder(kFolder, L"S-1-5-32-544", kTrustedInstaller), FolderVerdict::Usable);
    EXPECT_EQ(JudgeFolder(kFolder, L"S-1-5-18", kTrustedInstaller), FolderVerdict::Usable);
    EXPECT_EQ(JudgeFolder(kFolder, kTrustedInstaller, kTrustedInstaller), FolderVerdict::Usable);
    // A folder a user made (and may therefore change) is not, whoever else may write it.
    EXPECT_EQ(JudgeFolder(kFolder, kUser, kTrustedInstaller), FolderVerdict::UntrustedOwner);
    EXPECT_EQ(JudgeFolder(kFolder, L"S-1-1-0", kTrustedInstaller), FolderVerdict::UntrustedOwner);
    // An owner that cannot be read is no owner to trust, even where the system folder's is unknown too.
    EXPECT_EQ(JudgeFolder(kFolder, L"", L""), FolderVerdict::UntrustedOwner);
    // Under Wine the user owns every file, the system folder included: the rule then opens nothing
    // that the system's owner could not take anyway.
    EXPECT_EQ(JudgeFolder(kFolder, kUser, kUser), FolderVerdict::Usable);
    // A link is refused whoever owns it, and so is a file in a folder's place.
    EXPECT_EQ(JudgeFolder(kLink, L"S-1-5-18", kTrustedInstaller), FolderVerdict::Link);
    EXPECT_EQ(JudgeFolder(kAttributeReparsePoint, L"S-1-5-18", kTrustedInstaller), FolderVerdict::Link);
    EXPECT_EQ(JudgeFolder(0x20, L"S-1-5-18", kTrustedInstaller), FolderVerdict::NotAFolder);
    EXPECT_STREQ(FolderVerdictText(FolderVerdict::Link), L"is a link");
}

TEST(CleanRoomRules, RootsOfEveryFormOfFullPath)
{
    EXPECT_EQ(PathRootLength(L"C:\\Users\\Bob"), 3u);
    EXPECT_EQ(PathRootLength(L"z:\\"), 3u);
    EXPECT_EQ(PathRootLength(L"\\\\server\\share\\folder"), 15u);
    EXPECT_EQ(PathRootLength(L"\\\\server\\share"), 14u);
    EXPECT_EQ(PathRootLength(L"\\\\?\\C:\\Windows"), 7u);
    EXPECT_EQ(PathRootLength(L"\\\\?\\UNC\\server\\share\\x"), 21u);
    for (const wchar_t* notFull : {L"", L"C:", L"C:relative", L"relative\\path", L"\\Tarvelo", L"\\\\server",
                                   L"\\\\\\share", L"\\\\server\\\\x", L"1:\\x"})
        EXPECT_EQ(PathRootLength(notFull), 0u) << notFull;
}

std::vector<std::wstring> FoldersBelow(const std::wstring& path, size_t anchorLength)
{
    std::vector<std::wstring> folders;
    for (size_t end = 0; NextFolderBelow(path, anchorLength, &end);) folders.push_back(path.substr(0, end));
    return folders;
}

TEST(CleanRoomRules, FoldersBelowTheAnchorFromTheTopDown)
{
    const std::wstring temp = L"C:\\Users\\Bob\\AppData\\Local\\Temp\\Tarvelo";
    // Below the profile folder, which the user owns: every folder the user could replace.
    EXPECT_EQ(FoldersBelow(temp, 12), (std::vector<std::wstring>{
                                          L"C:\\Users\\Bob\\AppData", L"C:\\Users\\Bob\\AppData\\Local",
                                          L"C:\\Users\\Bob\\AppData\\Local\\Temp", temp}));
    // Below the root (a run as SYSTEM, whose TEMP is C:\Windows\Temp).
    EXPECT_EQ(FoldersBelow(L"C:\\Windows\\Temp\\Tarvelo\\", 3),
              (std::vector<std::wstring>{L"C:\\Windows", L"C:\\Windows\\Temp", L"C:\\Windows\\Temp\\Tarvelo"}));
    EXPECT_EQ(FoldersBelow(L"\\\\server\\share\\a\\b", 15),
              (std::vector<std::wstring>{L"\\\\server\\share\\a", L"\\\\server\\share\\a\\b"}));
    // The anchor itself is never listed; a path that goes on past the anchor without a separator
    // is not below it ("C:\Users\Bob2" is not below "C:\Users\Bob").
    EXPECT_TRUE(FoldersBelow(L"C:\\Users\\Bob", 12).empty());
    EXPECT_TRUE(FoldersBelow(L"C:\\Users\\Bob2\\x", 12).empty());
    EXPECT_TRUE(FoldersBelow(L"C:\\x", 0).empty());
    EXPECT_TRUE(FoldersBelow(L"C:\\x", 9).empty());
}

std::wstring DosForm(std::wstring finalPath)
{
    finalPath += L'\0';
    return std::wstring(&finalPath[DosFormOfFinalPath(&finalPath[0])]);
}

TEST(CleanRoomRules, FinalPathsInTheFormProgramsAreStartedBy)
{
    EXPECT_EQ(DosForm(L"\\\\?\\C:\\ProgramData\\Tarvelo\\Setup\\a.exe"), L"C:\\ProgramData\\Tarvelo\\Setup\\a.exe");
    EXPECT_EQ(DosForm(L"\\\\?\\UNC\\server\\share\\a.exe"), L"\\\\server\\share\\a.exe");
    EXPECT_EQ(DosForm(L"C:\\a.exe"), L"C:\\a.exe");
    EXPECT_EQ(DosForm(L"\\\\?"), L"\\\\?");
    EXPECT_EQ(DosForm(L""), L"");
}

std::wstring Block(std::initializer_list<const wchar_t*> entries)
{
    std::wstring block;
    for (const wchar_t* entry : entries) block += std::wstring(entry) + L'\0';
    return block + L'\0';
}

TEST(CleanRoomRules, PrerequisitesGetTheirOwnTempAndEverythingElseAsItWas)
{
    const std::wstring room = L"C:\\ProgramData\\Tarvelo\\Setup\\Temp-12";
    // Replaced in place, whatever case the user's block names it in; the drive entries stay first.
    EXPECT_EQ(WithVariable(Block({L"=C:=C:\\Users\\Bob", L"Path=C:\\Windows", L"temp=C:\\Users\\Bob\\Temp", L"windir=C:\\Windows"}),
                           L"TEMP", room),
              Block({L"=C:=C:\\Users\\Bob", L"Path=C:\\Windows", (L"TEMP=" + room).c_str(), L"windir=C:\\Windows"}));
    // Missing: inserted where the block's order puts it, so that the block stays sorted.
    EXPECT_EQ(WithVariable(Block({L"ALLUSERSPROFILE=C:\\ProgramData", L"windir=C:\\Windows"}), L"TMP", room),
              Block({L"ALLUSERSPROFILE=C:\\ProgramData", (L"TMP=" + room).c_str(), L"windir=C:\\Windows"}));
    EXPECT_EQ(WithVariable(Block({L"ZZ=1"}), L"TMP", room), Block({(L"TMP=" + room).c_str(), L"ZZ=1"}));
    EXPECT_EQ(WithVariable(std::wstring(), L"TMP", room), Block({(L"TMP=" + room).c_str()}));
    // A name that only begins like it is another variable; a second spelling of it goes.
    EXPECT_EQ(WithVariable(Block({L"TEMP=a", L"Temp=b", L"TEMPLATES=x"}), L"TEMP", room),
              Block({(L"TEMP=" + room).c_str(), L"TEMPLATES=x"}));
    // Without the closing zero the last entry still counts.
    EXPECT_EQ(WithVariable(std::wstring(L"A=1\0TEMP=old", 12), L"TEMP", L"new"), Block({L"A=1", L"TEMP=new"}));
}

TEST(CleanRoomRules, AFolderSetAsideGetsAUniqueNameBesideIt)
{
    EXPECT_EQ(AsideName(L"C:\\ProgramData\\Tarvelo\\Setup", 0x01DB2C3D4E5F6071ULL),
              L"C:\\ProgramData\\Tarvelo\\Setup.aside-01DB2C3D4E5F6071");
    EXPECT_NE(AsideName(L"x", 1), AsideName(L"x", 2));
}

}  // namespace
