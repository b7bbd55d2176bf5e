#include <gtest/gtest.h>

#include "app/portable/stage2_command.h"

// The second stage gets exactly one argument, the language, whatever the path looks like, and a
// long installation folder is passed on whole instead of being cut at the old 260 limit.
TEST(Stage2CommandLine, QuotesThePathAndKeepsItsFullLength)
{
    EXPECT_EQ(BuildStage2CommandLine(L"C:\\Setup Files\\TarveloStage2.exe", L"en-GB"),
              L"\"C:\\Setup Files\\TarveloStage2.exe\" en-GB");

    const std::wstring deep = L"C:\\" + std::wstring(300, L'd') + L"\\TarveloStage2.exe";
    const std::wstring line = BuildStage2CommandLine(deep, L"fr-FR");
    EXPECT_EQ(line.size(), deep.size() + 8);
    EXPECT_EQ(line.substr(line.size() - 7), L"\" fr-FR");
}
