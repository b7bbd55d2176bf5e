// An exe that carries its inputs reads only those: this test program carries a small cabinet of
// them (a configuration, the English texts and one skin image; see cmake/win32.cmake) and runs in
// a folder where other files of the same names have been planted. Cabinets of its own making
// stand in for damaged ones.
#include <windows.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "support/carried_inputs.h"
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

TEST(CarriedInputs, OnlyTheCarriedFilesAreReadAndDownloadsGoBelowTemp)
{
    TempFolder downloads(L"carried-downloads"), temp(L"carried-temp");
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

    using namespace InstallerConfig;
    const std::wstring setup = temp / L"Tarvelo\\Setup";
    EXPECT_EQ(StartDirectory, setup);
    EXPECT_EQ(Stage2FileW, setup + L"\\TarveloStage2.exe");
    EXPECT_EQ(DotNetFileW, setup + L"\\DotNet\\dotnetfx.exe");
    EXPECT_EQ(Stage2UrlHead, "http://download.tarvelo.com/setup/");
    EXPECT_NE(GetFileAttributesW(setup.c_str()), INVALID_FILE_ATTRIBUTES) << "the download folder was not made";
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

namespace {

// A cabinet laid out as the format describes it, its files stored without compression in one
// folder: enough to hand the platform's reader what a damaged or hostile cabinet could hold.
struct CabinetFile {
    std::string name;
    std::string data;
    WORD folder = 0;  // 0xFFFD: continued from a previous cabinet; 0xFFFE: continued into the next
    uint32_t size = 0;  // the size it claims, when not its data's
};

void Put(std::vector<unsigned char>& out, uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

std::vector<unsigned char> Cabinet(const std::vector<CabinetFile>& files, WORD flags = 0)
{
    const std::string self = "carried-inputs.cab";  // the cabinet names itself as its neighbour
    std::string links;
    for (WORD link : {WORD(1), WORD(2)})
        if (flags & link) links += self + '\0' + "disk" + '\0';
    std::string data;
    for (const CabinetFile& file : files) data += file.data;
    std::vector<unsigned char> entries;
    uint32_t offset = 0;
    for (const CabinetFile& file : files) {
        Put(entries, file.size ? file.size : static_cast<uint32_t>(file.data.size()), 4);
        Put(entries, offset, 4);
        Put(entries, file.folder, 2);
        Put(entries, 0x5821, 2);  // a date
        Put(entries, 0, 2);
        Put(entries, 0x20, 2);
        entries.insert(entries.end(), file.name.begin(), file.name.end());
        entries.push_back(0);
        offset += static_cast<uint32_t>(file.data.size());
    }
    const uint32_t filesAt = static_cast<uint32_t>(36 + links.size() + 8);
    const uint32_t dataAt = filesAt + static_cast<uint32_t>(entries.size());
    std::vector<unsigned char> cabinet = {'M', 'S', 'C', 'F'};
    Put(cabinet, 0, 4);
    Put(cabinet, dataAt + 8 + static_cast<uint32_t>(data.size()), 4);
    Put(cabinet, 0, 4);
    Put(cabinet, filesAt, 4);
    Put(cabinet, 0, 4);
    cabinet.push_back(3);
    cabinet.push_back(1);
    Put(cabinet, 1, 2);  // folders
    Put(cabinet, static_cast<uint32_t>(files.size()), 2);
    Put(cabinet, flags, 2);
    Put(cabinet, 0x5456, 2);
    Put(cabinet, 0, 2);
    cabinet.insert(cabinet.end(), links.begin(), links.end());
    Put(cabinet, dataAt, 4);  // the folder: its one data block, stored
    Put(cabinet, 1, 2);
    Put(cabinet, 0, 2);
    cabinet.insert(cabinet.end(), entries.begin(), entries.end());
    Put(cabinet, 0, 4);  // no checksum
    Put(cabinet, static_cast<uint32_t>(data.size()), 2);
    Put(cabinet, static_cast<uint32_t>(data.size()), 2);
    cabinet.insert(cabinet.end(), data.begin(), data.end());
    return cabinet;
}

class CarriedCabinet : public ::testing::Test {
protected:
    ~CarriedCabinet() override
    {
        UseCarriedCabinetForTesting(nullptr, 0);
        InstallerLog::Close();
    }
    bool Read(const std::vector<unsigned char>& cabinet, const wchar_t* name, std::string* text = nullptr)
    {
        UseCarriedCabinetForTesting(cabinet.data(), cabinet.size());
        std::vector<unsigned char> bytes;
        const bool read = ReadCarriedInput(name, &bytes);
        if (text) text->assign(bytes.begin(), bytes.end());
        return read;
    }

    TempFolder m_logs{L"carried-cabinet-logs"};
    ScopedEnvironmentVariable m_temp{L"TEMP", m_logs.Path().c_str()};
};

}  // namespace

// A file continued from or into another cabinet never belongs to a carried cabinet: the read
// ends as for a damaged one, also where the cabinet names itself as the next one to read.
TEST_F(CarriedCabinet, AFileContinuedAcrossCabinetsEndsTheRead)
{
    std::string text;
    ASSERT_TRUE(Read(Cabinet({{"ConfigFile.txt", "whole"}}), L"ConfigFile.txt", &text));
    EXPECT_EQ(text, "whole");

    EXPECT_FALSE(Read(Cabinet({{"ConfigFile.txt", "rest", 0xFFFD}, {"Resource-en-GB.txt", "t"}}, 1),
                      L"Resource-en-GB.txt"));
    EXPECT_FALSE(Read(Cabinet({{"ConfigFile.txt", "start", 0xFFFE, 4096}}, 2), L"ConfigFile.txt"));
    EXPECT_FALSE(Read(Cabinet({{"Resource-en-GB.txt", "t"}, {"ConfigFile.txt", "middle", 0xFFFF}}, 3),
                      L"ConfigFile.txt"));

    std::string log;
    InstallerLog::Close();
    ASSERT_TRUE(ReadWholeFile(m_logs / L"Tarvelo\\Logs\\InstallerLogs\\Stage1Logs.txt", log));
    EXPECT_NE(log.find("ERROR: the inputs built into the installer cannot be read"), std::string::npos) << log;
}

// A skin image is unpacked once per run: once it has been read, a change of scale takes it again
// without the cabinet (here one that can no longer be read at all).
TEST_F(CarriedCabinet, SkinImagesAreUnpackedOncePerRun)
{
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
}
