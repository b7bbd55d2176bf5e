#include <gtest/gtest.h>

#include "app/portable/stage2_command.h"
#include "app/portable/unattended.h"
#include "download/portable/script_child_pipe.h"

namespace {
InstallerOptions Parse(const std::wstring& arguments)
{
    return ParseInstallerCommandLine(L"\"C:\\Users\\Ann\\Downloads\\TarveloSetup.exe\" " + arguments);
}
}  // namespace

// Without a switch of ours the run is today's, whatever else the line holds: a program name with
// a switch-like folder, plain words, an empty line.
TEST(InstallerCommandLine, NoSwitchOfOursIsTheAttendedRun)
{
    for (const std::wstring line : {L"", L"TarveloSetup.exe", L"\"C:\\-quiet\\TarveloSetup.exe\"",
                                    L"C:\\a\\TarveloSetup.exe word \"two words\"", L"x.exe   \t"}) {
        const InstallerOptions options = ParseInstallerCommandLine(line);
        EXPECT_EQ(options.mode, RunMode::Attended);
        EXPECT_FALSE(options.commandLineWrong);
        EXPECT_FALSE(options.showUsage);
        EXPECT_TRUE(options.logPath.empty());
        EXPECT_TRUE(options.stage2Arguments.empty());
    }
}

TEST(InstallerCommandLine, SwitchesInAnyCaseWithEitherLeader)
{
    EXPECT_EQ(Parse(L"/quiet").mode, RunMode::Quiet);
    EXPECT_EQ(Parse(L"-QUIET").mode, RunMode::Quiet);
    EXPECT_EQ(Parse(L"/Passive").mode, RunMode::Passive);
    EXPECT_EQ(Parse(L"-passive /quiet").mode, RunMode::Quiet);  // never a window when one is refused
    EXPECT_TRUE(Parse(L"/?").showUsage);
    EXPECT_TRUE(Parse(L"-HELP").showUsage);
    EXPECT_FALSE(Parse(L"/?").Unattended());
}

TEST(InstallerCommandLine, LogTakesTheNextWordUnquoted)
{
    EXPECT_EQ(Parse(L"/quiet /log \"C:\\Deploy Logs\\tarvelo setup.log\"").logPath,
              L"C:\\Deploy Logs\\tarvelo setup.log");
    EXPECT_EQ(Parse(L"-LOG C:\\x.log /passive").logPath, L"C:\\x.log");
    EXPECT_EQ(Parse(L"-LOG C:\\x.log /passive").mode, RunMode::Passive);
    // A trailing backslash before the closing quote is the folder's, as the C runtime reads it.
    EXPECT_EQ(Parse(L"/log \"C:\\a b\\\\\"").logPath, L"C:\\a b\\");
}

TEST(InstallerCommandLine, WrongLinesNameTheirFirstFault)
{
    InstallerOptions options = Parse(L"/bogus");
    EXPECT_TRUE(options.commandLineWrong);
    EXPECT_EQ(options.badSwitch, L"/bogus");

    options = Parse(L"/quiet /log");
    EXPECT_TRUE(options.commandLineWrong);
    EXPECT_EQ(options.badSwitch, L"/log");
    EXPECT_EQ(options.mode, RunMode::Quiet);  // so that the usage is not shown

    options = Parse(L"/log \"\" /quiet");
    EXPECT_TRUE(options.commandLineWrong);

    options = Parse(L"/log -- /S");
    EXPECT_TRUE(options.commandLineWrong);

    options = Parse(L"-x /quiet /y");
    EXPECT_EQ(options.badSwitch, L"-x");
    EXPECT_EQ(options.mode, RunMode::Quiet);

    EXPECT_TRUE(Parse(L"-").commandLineWrong);
    EXPECT_TRUE(Parse(L"--quiet").commandLineWrong);
}

// What follows "--" belongs to the second stage, byte for byte, even where it looks like ours.
TEST(InstallerCommandLine, ArgumentsAfterTheSeparatorAreKeptAsGiven)
{
    InstallerOptions options = Parse(L"/quiet -- /S");
    EXPECT_EQ(options.stage2Arguments, L"/S");
    EXPECT_EQ(options.mode, RunMode::Quiet);

    options = Parse(L"/passive --   /S /D=\"C:\\Program Files\\Tarvelo\" /bogus /quiet  ");
    EXPECT_EQ(options.stage2Arguments, L"/S /D=\"C:\\Program Files\\Tarvelo\" /bogus /quiet");
    EXPECT_FALSE(options.commandLineWrong);
    EXPECT_EQ(options.mode, RunMode::Passive);

    EXPECT_TRUE(Parse(L"/quiet --").stage2Arguments.empty());
    EXPECT_EQ(Parse(L"-- -- x").stage2Arguments, L"-- x");

    EXPECT_EQ(BuildStage2CommandLine(L"C:\\P D\\s2.exe", L"en-GB", options.stage2Arguments),
              L"\"C:\\P D\\s2.exe\" en-GB /S /D=\"C:\\Program Files\\Tarvelo\" /bogus /quiet");
    EXPECT_EQ(BuildStage2CommandLine(L"C:\\s2.exe", L"de-DE"), L"\"C:\\s2.exe\" de-DE");
}

TEST(UnattendedExitCodes, PrerequisitesAndTheSecondStage)
{
    EXPECT_EQ(ClassifyPrerequisiteExit(0), PrerequisiteResult::Installed);
    EXPECT_EQ(ClassifyPrerequisiteExit(3010), PrerequisiteResult::InstalledRestartNeeded);
    EXPECT_EQ(ClassifyPrerequisiteExit(1641), PrerequisiteResult::InstalledRestartNeeded);
    for (unsigned long failed : {1UL, 1603UL, 1602UL, 0xC0000005UL, 259UL})
        EXPECT_EQ(ClassifyPrerequisiteExit(failed), PrerequisiteResult::Failed) << failed;

    EXPECT_EQ(Stage2ExitCode(0, false), 0);
    EXPECT_EQ(Stage2ExitCode(0, true), 3010);
    EXPECT_EQ(Stage2ExitCode(3010, false), 3010);
    EXPECT_EQ(Stage2ExitCode(1603, true), 1603);  // the second stage's failure is not hidden
    EXPECT_EQ(Stage2ExitCode(7, false), 7);
}

// The switch of the installer's own proxy script child is no wrong line: typed by a user, it
// leads to the normal run (the child start proves its pipes before it takes that way).
TEST(InstallerCommandLine, TheScriptChildSwitchIsPassedOver)
{
    const std::wstring child = ScriptChildCommandLine(L"C:\\Downloads\\TarveloSetup.exe", 12, 16);
    const InstallerOptions options = ParseInstallerCommandLine(child);
    EXPECT_FALSE(options.commandLineWrong);
    EXPECT_EQ(options.mode, RunMode::Attended);
    EXPECT_EQ(ParseInstallerCommandLine(child + L" /quiet").mode, RunMode::Quiet);
}
