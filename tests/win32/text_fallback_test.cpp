// The text table is created once per process, so each language case is a program of its own.
#include <windows.h>
#include <gtest/gtest.h>

#include "support/installer_config.h"
#include "support/localized_text.h"
#include "support/scratch_folder.h"

namespace {

TEST(TextLanguage, MissingLanguageFileFallsBackToEnglish)
{
    TempFolder run(L"text-fallback");
    TempFolder logs(L"text-fallback-log");
    ScopedEnvironmentVariable temp(L"TEMP", logs.Path().c_str());
    std::string english;
    ASSERT_TRUE(ReadWholeFile(SourceTreePath(L"data\\Resource-en-GB.txt"), english));
    ASSERT_TRUE(WriteWholeFile(run / L"Resource-en-GB.txt", english));
    // The last field lacks ";", so the language code keeps the line break: no such file.
    ASSERT_TRUE(WriteWholeFile(run / L"ConfigFile.txt", "OS=610;;;;;;;;;;;Language=en-GB\r\n"));
    ScopedCurrentDirectory cwd(run.Path());
    ASSERT_TRUE(cwd.Changed());

    ReadConfigFile();
    EXPECT_EQ(InstallerConfig::Language, "en-GB\r\n");
    LocalizedText* table = LocalizedText::Instance(L"en-GB");
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table->GetLanguage(), L"en-GB");
    EXPECT_EQ(table->GetText(L"DIALOG_CAPTION"), L"Tarvelo Setup");
    EXPECT_EQ(table->GetText(L" \tOK_BUTTON\r\n"), L"OK");
    EXPECT_EQ(table->GetText(L"ok_button"), L"");
    EXPECT_EQ(table->GetText(L"NO_SUCH_KEY"), L"");
    // Later calls keep the first table, whatever language they name.
    EXPECT_EQ(LocalizedText::Instance(L"de-DE"), table);
}

}  // namespace
