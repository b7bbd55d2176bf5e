// The text table is created once per process, so each language case is a program of its own.
#include <windows.h>
#include <gtest/gtest.h>

#include "support/installer_config.h"
#include "support/localized_text.h"
#include "support/scratch_folder.h"

namespace {

std::string Utf16Le(const std::wstring& text)
{
    std::string bytes;
    for (wchar_t c : text) {
        bytes.push_back(static_cast<char>(c & 0xFF));
        bytes.push_back(static_cast<char>((c >> 8) & 0xFF));
    }
    return bytes;
}

TEST(TextLanguage, ConfiguredLanguageWithAFileIsKept)
{
    TempFolder run(L"text-language");
    TempFolder logs(L"text-language-log");
    ScopedEnvironmentVariable temp(L"TEMP", logs.Path().c_str());
    ASSERT_TRUE(WriteWholeFile(run / L"Resource-en-GB.txt", Utf16Le(L"DIALOG_CAPTION=English;")));
    ASSERT_TRUE(WriteWholeFile(run / L"Resource-de-DE.txt",
                               Utf16Le(L"\xFEFF" L"FIRST=hidden;\r\nDIALOG_CAPTION = Tarvelo Einrichtung ;"
                                       L"DIALOG_CAPTION=zweite;")
                                   + "x"));  // an odd last byte
    ASSERT_TRUE(WriteWholeFile(run / L"ConfigFile.txt", "OS=610;;;;;;;;;;;Language=de-DE;\r\n"));
    ScopedCurrentDirectory cwd(run.Path());
    ASSERT_TRUE(cwd.Changed());

    ReadConfigFile();
    // Start-up asks for English afterwards; the configured language stays.
    LocalizedText* table = LocalizedText::Instance(L"en-GB");
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table->GetLanguage(), L"de-DE");
    EXPECT_EQ(table->GetText(L"DIALOG_CAPTION"), L"Tarvelo Einrichtung");
    EXPECT_EQ(table->GetText(L"FIRST"), L"");  // the byte-order mark hides the first key
}

}  // namespace
