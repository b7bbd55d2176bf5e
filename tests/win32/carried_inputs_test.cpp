// An exe that carries its inputs reads only those: this test program carries a small cabinet of
// them (a configuration, the English texts and one skin image; see cmake/win32.cmake) and runs in
// a folder where other files of the same names have been planted.
#include <windows.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/carried_inputs.h"
#include "support/clean_room.h"
#include "support/installer_config.h"
#include "support/installer_log.h"
#include "support/localized_text.h"
#include "support/scratch_folder.h"
#include "ui/controls/portable/skin_path.h"
#include "ui/controls/skin_images.h"

namespace {

std::string Utf16(const std::wstring& text)
{
    std::string bytes;
    for (wchar_t c : text) {
        bytes += static_cast<char>(c & 0xFF);
        bytes += static_cast<char>((c >> 8) & 0xFF);
    }
    return bytes;
}

SIZE BitmapSize(HBITMAP bitmap)
{
    BITMAP info{};
    GetObjectW(bitmap, sizeof info, &info);
    return SIZE{info.bmWidth, info.bmHeight};
}

}  // namespace

TEST(CarriedInputs, OnlyTheCarriedFilesAreReadAndDownloadsGoToTheCleanRoom)
{
    TempFolder downloads(L"carried-downloads"), temp(L"carried-temp"), programData(L"carried-programdata");
    SetProgramDataForTesting(programData.Path());
    ScopedEnvironmentVariable tmp(L"TMP", temp.Path().c_str());
    ScopedEnvironmentVariable tempVariable(L"TEMP", temp.Path().c_str());
    ScopedCurrentDirectory cwd(downloads.Path());
    ASSERT_TRUE(cwd.Changed());
    // What a web page could drop into the Downloads folder.
    ASSERT_TRUE(WriteWholeFile(downloads / L"ConfigFile.txt",
                               "OS=610;DotNetFolder=\\x;DotNetFile=\\x\\y.exe;DotNetUrlHead=http://evil.example/;"
                               "DotNetUrlTail=y.exe;Stage2File=\\evil.exe;Stage2UrlHead=http://evil.example/;"
                               "Stage2UrlTail=evil.exe;MsiFile=\\m.exe;MsiUrlHead=http://evil.example/;"
                               "MsiUrlTail=m.exe;Language=en-GB;"));
    ASSERT_TRUE(WriteWholeFile(downloads / L"Resource-en-GB.txt", Utf16(L"DIALOG_CAPTION=Planted;")));
    ASSERT_TRUE(CreateDirectoryW((downloads / L"Images").c_str(), nullptr));
    std::string skin;
    ASSERT_TRUE(ReadWholeFile(BuildTreePath(L"run\\Images\\CancelButton.bmp"), skin));
    ASSERT_TRUE(WriteWholeFile(downloads / L"Images\\CancelButton.bmp", skin));
    ASSERT_TRUE(WriteWholeFile(downloads / L"Images\\Small.bmp", skin));

    ASSERT_TRUE(CarriesInputs());
    ReadConfigFile();
    InstallerLog::Close();

    SetProgramDataForTesting(L"");
    using namespace InstallerConfig;
    const std::wstring setup = programData / L"Tarvelo\\Setup";
    EXPECT_EQ(StartDirectory, setup);
    EXPECT_EQ(Stage2FileW, setup + L"\\TarveloStage2.exe");
    EXPECT_EQ(DotNetFileW, setup + L"\\DotNet\\dotnetfx.exe");
    EXPECT_EQ(Stage2UrlHead, "http://download.tarvelo.com/setup/");
    EXPECT_NE(GetFileAttributesW(setup.c_str()), INVALID_FILE_ATTRIBUTES) << "the download folder was not made";
    EXPECT_FALSE(FileExists(temp / L"Tarvelo\\Setup")) << "the user's TEMP is no place for a release run";
    std::string log;
    ASSERT_TRUE(ReadWholeFile(temp / L"Tarvelo\\Logs\\InstallerLogs\\Stage1Logs.txt", log));
    EXPECT_EQ(log, "Using the configuration built into the installer\r\n");

    // The carried texts, in the language the carried configuration names.
    EXPECT_EQ(LocalizedText::Instance(L"en-GB")->GetText(L"DIALOG_CAPTION"), L"Tarvelo Setup");

    // The carried skin holds only Smallest.bmp: planted images are never taken in its place.
    HBITMAP smallest = LoadSkinImage(kSkinSmallestBackground);
    ASSERT_NE(smallest, nullptr);
    EXPECT_EQ(BitmapSize(smallest).cx, 242);
    EXPECT_EQ(BitmapSize(smallest).cy, 169);
    DeleteObject(smallest);
    EXPECT_EQ(LoadSkinImage(kSkinSmallBackground), nullptr);
    EXPECT_EQ(LoadSkinImage(kSkinCloseNormal), nullptr);
    EXPECT_EQ(LoadSkinImage(kSkinSmallestBackground, 150), nullptr);

    std::vector<unsigned char> bytes;
    EXPECT_TRUE(ReadCarriedInput(L"images/SMALLEST.bmp", &bytes));
    EXPECT_FALSE(ReadCarriedInput(L"..\\ConfigFile.txt", &bytes));
    EXPECT_FALSE(ReadCarriedInput(L"Resource-de-DE.txt", &bytes));
    EXPECT_TRUE(bytes.empty());
}

// A skin image is unpacked once per run: once it has been read, a change of scale takes it again
// without the cabinet (here one that can no longer be read at all).
TEST(CarriedInputs, SkinImagesAreUnpackedOncePerRun)
{
    TempFolder logs(L"carried-cache-logs");
    ScopedEnvironmentVariable temp(L"TEMP", logs.Path().c_str());
    HBITMAP first = LoadSkinImage(kSkinSmallestBackground);
    ASSERT_NE(first, nullptr);
    DeleteObject(first);
    EXPECT_EQ(LoadSkinImage(kSkinSmallestBackground, 200), nullptr) << "the test cabinet has no 200 % set";

    const std::vector<unsigned char> unreadable = {'M', 'S', 'C', 'F', 0, 0, 0, 0};
    UseCarriedCabinetForTesting(unreadable.data(), unreadable.size());
    std::vector<unsigned char> bytes;
    ASSERT_FALSE(ReadCarriedInput(L"Images\\Smallest.bmp", &bytes));
    for (int round = 0; round < 2; ++round) {
        HBITMAP again = LoadSkinImage(kSkinSmallestBackground);
        ASSERT_NE(again, nullptr) << round;
        EXPECT_EQ(BitmapSize(again).cx, 242);
        DeleteObject(again);
        EXPECT_EQ(LoadSkinImage(kSkinSmallestBackground, 200), nullptr);
    }
    UseCarriedCabinetForTesting(nullptr, 0);
    InstallerLog::Close();
}
