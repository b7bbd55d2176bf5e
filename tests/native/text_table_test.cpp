#include <gtest/gtest.h>

#include <string>

#include "support/portable/text_table.h"

namespace {

// The bytes of a UTF-16LE file holding `text` (code points below U+10000 only).
std::string Utf16Le(const std::u16string& text)
{
    std::string bytes;
    for (char16_t c : text) {
        bytes.push_back(static_cast<char>(c & 0xFF));
        bytes.push_back(static_cast<char>(c >> 8));
    }
    return bytes;
}

std::map<std::wstring, std::wstring> Parse(const std::string& bytes)
{
    return ParseTextTable(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}

std::map<std::wstring, std::wstring> Parse(const std::u16string& text)
{
    return Parse(Utf16Le(text));
}

TEST(TextTable, KeysAndTextsAreTrimmedOfSpaceTabCrLfOnly)
{
    const auto t = Parse(u"\r\n  YES_BUTTON \t= \t Yes please \r\n;\r\n"
                         u"MULTI=first line\r\nsecond line;"
                         u"EQ=a=b = c;"
                         u"\x3000WIDE\x3000=\x00A0nbsp\x00A0;");
    EXPECT_EQ(t.at(L"YES_BUTTON"), L"Yes please");
    EXPECT_EQ(t.at(L"MULTI"), L"first line\r\nsecond line");
    EXPECT_EQ(t.at(L"EQ"), L"a=b = c");
    // Other white space is kept: it is not part of the trim set.
    EXPECT_EQ(t.at(std::wstring(L"\x3000WIDE\x3000")), std::wstring(L"\x00A0nbsp\x00A0"));
}

TEST(TextTable, FirstOccurrenceOfAKeyWins)
{
    const auto t = Parse(u"KEY=first; KEY =second;OTHER=x;");
    EXPECT_EQ(t.at(L"KEY"), L"first");
    EXPECT_EQ(t.size(), 2u);
}

TEST(TextTable, EntryWithoutEqualsMapsToItself)
{
    const auto t = Parse(u" Just text here ;");
    EXPECT_EQ(t.at(L"Just text here"), L"Just text here");
}

TEST(TextTable, EmptyEntriesGiveTheEmptyKeyOnce)
{
    const auto t = Parse(u"A=1;;  \r\n ;=late;B=2;");
    EXPECT_EQ(t.at(L""), L"");  // the first empty entry wins over "=late"
    EXPECT_EQ(t.at(L"B"), L"2");
    EXPECT_EQ(t.size(), 3u);
}

TEST(TextTable, LastEntryWithoutSeparatorIsKept)
{
    const auto t = Parse(u"A=1;B=2\r\n");
    EXPECT_EQ(t.at(L"B"), L"2");
    EXPECT_EQ(t.size(), 2u);
    // A final separator ends the text: no empty entry follows it.
    EXPECT_EQ(Parse(u"A=1;").size(), 1u);
}

TEST(TextTable, ByteOrderMarkStaysInTheFirstKey)
{
    const auto t = Parse(u"\xFEFF" u"DIALOG_CAPTION=Tarvelo;OK_BUTTON=OK;");
    EXPECT_EQ(t.count(L"DIALOG_CAPTION"), 0u);
    EXPECT_EQ(t.at(std::wstring(1, wchar_t(0xFEFF)) + L"DIALOG_CAPTION"), L"Tarvelo");
    EXPECT_EQ(t.at(L"OK_BUTTON"), L"OK");
}

TEST(TextTable, OddLastByteIsIgnoredAndUnitsAreKeptWhole)
{
    std::string bytes = Utf16Le(u"A=\xD83D\xDE00\x00E9;B=x;");
    bytes.push_back('C');
    const auto t = Parse(bytes);
    // A surrogate pair stays as its two units, whatever the width of wchar_t.
    const std::wstring expected{wchar_t(0xD83D), wchar_t(0xDE00), wchar_t(0x00E9)};
    EXPECT_EQ(t.at(L"A"), expected);
    EXPECT_EQ(t.at(L"B"), L"x");
    EXPECT_EQ(t.size(), 2u);
    EXPECT_TRUE(Parse(std::string("\x41", 1)).empty());
    EXPECT_TRUE(Parse(std::string()).empty());
}

TEST(TextTable, LookupTrimAndCaseSensitivity)
{
    EXPECT_EQ(TrimTextTableSpace(L" \t\r\nKEY \n"), L"KEY");
    EXPECT_EQ(TrimTextTableSpace(L" \t "), L"");
    EXPECT_EQ(TrimTextTableSpace(L"A B"), L"A B");
    const auto t = Parse(u"KEY=v;");
    EXPECT_EQ(t.count(L"key"), 0u);
}

}  // namespace
