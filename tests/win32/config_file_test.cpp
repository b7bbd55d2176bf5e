#include <windows.h>
#include <gtest/gtest.h>

#include <string>

#include "support/installer_config.h"
#include "support/installer_log.h"
#include "support/scratch_folder.h"

namespace {

// Runs the reader in a scratch start directory, with the log in a scratch TEMP.
class ConfigFileTest : public ::testing::Test {
protected:
    ConfigFileTest()
        : m_run(L"config"), m_logs(L"config-log"), m_temp(L"TEMP", m_logs.Path().c_str()),
          m_cwd(m_run.Path())
    {
    }
    void SetUp() override { ASSERT_TRUE(m_cwd.Changed()); }

    // The log lines the reader wrote.
    std::string ReadAndCollectLog()
    {
        const std::wstring path = m_logs / L"Tarvelo\\Logs\\InstallerLogs\\Stage1Logs.txt";
        InstallerLog::Close();
        DeleteFileW(path.c_str());  // the reader may write nothing, and then opens no log
        ReadConfigFile();
        InstallerLog::Close();
        std::string content;
        ReadWholeFile(path, content);
        return content;
    }

    std::wstring ConfigPath() const { return m_run / L"ConfigFile.txt"; }

    TempFolder m_run, m_logs;
    ScopedEnvironmentVariable m_temp;
    ScopedCurrentDirectory m_cwd;
};

TEST_F(ConfigFileTest, ShippedSampleFillsEveryValue)
{
    std::string sample;
    ASSERT_TRUE(ReadWholeFile(SourceTreePath(L"data\\ConfigFile.txt"), sample));
    ASSERT_TRUE(WriteWholeFile(ConfigPath(), sample));
    EXPECT_EQ(ReadAndCollectLog(), "");

    using namespace InstallerConfig;
    EXPECT_EQ(StartDirectory, m_run.Path());
    const std::string dir(m_run.Path().begin(), m_run.Path().end());  // an ASCII path
    EXPECT_EQ(StartDirectoryA, dir);
    EXPECT_EQ(SupportedOsVersions, (std::vector<int>{510, 511, 512, 600, 610, 620, 630, 1000}));
    EXPECT_EQ(DotNetFolder, dir + "\\DotNet");
    EXPECT_EQ(DotNetFile, dir + "\\DotNet\\dotnetfx.exe");
    EXPECT_EQ(DotNetFolderW, m_run.Path() + L"\\DotNet");
    EXPECT_EQ(DotNetFileW, m_run.Path() + L"\\DotNet\\dotnetfx.exe");
    EXPECT_EQ(Stage2File.rfind(dir + "\\", 0), 0u);
    EXPECT_EQ(MsiFile.rfind(dir + "\\", 0), 0u);
    EXPECT_EQ(Stage2UrlHead.rfind("http://download.tarvelo.com/", 0), 0u);
    EXPECT_EQ(Language, "en-GB");
}

TEST_F(ConfigFileTest, MissingFileReadsAsEmptyAndSaysSo)
{
    EXPECT_EQ(ReadAndCollectLog(), "ConfigFile.txt not found, read as empty\r\n");
    EXPECT_EQ(InstallerConfig::SupportedOsVersions, std::vector<int>{0});
    EXPECT_EQ(InstallerConfig::Stage2UrlHead, "");
    EXPECT_EQ(InstallerConfig::Language, "");
}

TEST_F(ConfigFileTest, FileOverTheLimitReadsAsEmptyAndSaysSo)
{
    std::string text = "OS=610;";
    text.resize(4097, ' ');
    ASSERT_TRUE(WriteWholeFile(ConfigPath(), text));
    EXPECT_EQ(ReadAndCollectLog(), "ConfigFile.txt is longer than 4096 bytes, read as empty\r\n");
    EXPECT_EQ(InstallerConfig::SupportedOsVersions, std::vector<int>{0});

    text.resize(4096);  // the limit itself is fine
    ASSERT_TRUE(WriteWholeFile(ConfigPath(), text));
    EXPECT_EQ(ReadAndCollectLog(), "");
    EXPECT_EQ(InstallerConfig::SupportedOsVersions, std::vector<int>{610});
}

TEST_F(ConfigFileTest, UnreadableFileReadsAsEmptyAndSaysSo)
{
    ASSERT_TRUE(WriteWholeFile(ConfigPath(), "OS=610;"));
    const HANDLE holder = CreateFileW(ConfigPath().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    EXPECT_EQ(ReadAndCollectLog(), "ConfigFile.txt could not be read, read as empty\r\n");
    CloseHandle(holder);
    EXPECT_EQ(InstallerConfig::SupportedOsVersions, std::vector<int>{0});

    ASSERT_TRUE(DeleteFileW(ConfigPath().c_str()));
    ASSERT_TRUE(CreateDirectoryW(ConfigPath().c_str(), nullptr));  // a folder of that name
    EXPECT_EQ(ReadAndCollectLog(), "ConfigFile.txt could not be read, read as empty\r\n");
}

TEST_F(ConfigFileTest, TextEndsAtNulAndBytesStayAsTheyAre)
{
    ASSERT_TRUE(WriteWholeFile(ConfigPath(), std::string("OS=600,610;F=\\caf\xE9\0;G=\\x;", 24)));
    EXPECT_EQ(ReadAndCollectLog(), "");
    const std::string dir(m_run.Path().begin(), m_run.Path().end());
    EXPECT_EQ(InstallerConfig::SupportedOsVersions, (std::vector<int>{600, 610}));
    EXPECT_EQ(InstallerConfig::DotNetFolder, dir + "\\caf\xE9");
    EXPECT_EQ(InstallerConfig::DotNetFile, dir + "\\caf\xE9");  // the same rest, read again
}

// The value's bytes as the system's ANSI code page reads them.
std::wstring Ansi(const char* bytes)
{
    wchar_t wide[64] = {};
    const int length = MultiByteToWideChar(CP_ACP, 0, bytes, -1, wide, 64);
    return std::wstring(wide, length > 0 ? static_cast<size_t>(length - 1) : 0);
}

TEST(ConfigStartDirectory, DirectoryBeyondEightBitsGivesExactWidePathsWithoutComplaint)
{
    TempFolder logs(L"config-wide-log");
    ScopedEnvironmentVariable temp(L"TEMP", logs.Path().c_str());
    TempFolder run(L"config-wide");
    // A Cyrillic user folder with a space and a Chinese character: nothing of it has a Latin-1 form.
    const std::wstring wide = run / L"\x0417\x0430\x0433\x0440\x0443\x0437\x043A\x0438 \x4E2D";
    ASSERT_TRUE(CreateDirectoryW(wide.c_str(), nullptr));
    ASSERT_TRUE(WriteWholeFile(wide + L"\\ConfigFile.txt",
                               "OS=610;F=\\DotNet;D=\\DotNet\\dotnetfx.exe;H=h;T=t;"
                               "S=\\Stage2 \x80.exe;H=h;T=t;M=\\msi.exe;H=h;T=t;L=en-GB;"));
    {
        ScopedCurrentDirectory cwd(wide);
        ASSERT_TRUE(cwd.Changed());
        InstallerLog::Close();
        ReadConfigFile();
        InstallerLog::Close();
    }
    using namespace InstallerConfig;
    EXPECT_EQ(StartDirectory, wide);
    EXPECT_EQ(SupportedOsVersions, std::vector<int>{610});
    EXPECT_EQ(DotNetFolderW, wide + L"\\DotNet");
    EXPECT_EQ(DotNetFileW, wide + L"\\DotNet\\dotnetfx.exe");
    EXPECT_EQ(MsiFileW, wide + L"\\msi.exe");
    // The value's own 8-bit text is the system code page's, not Latin-1: under 1252 the byte
    // 0x80 is the euro sign.
    EXPECT_EQ(Stage2FileW, wide + L"\\Stage2 " + Ansi("\x80") + L".exe");
    if (GetACP() == 1252) {
        EXPECT_EQ(Ansi("\x80"), L"\x20AC");
    }
    // The 8-bit copies keep their old form, '?' where a character has none.
    const std::string dir(run.Path().begin(), run.Path().end());
    EXPECT_EQ(DotNetFolder, dir + "\\???????? ?\\DotNet");
    std::string content;
    ReadWholeFile(logs / L"Tarvelo\\Logs\\InstallerLogs\\Stage1Logs.txt", content);
    EXPECT_EQ(content, "");
}

}  // namespace
