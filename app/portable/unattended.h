#pragma once
#include <string>

// The switches of deployment tools. Parsed once at start into one value that the install
// sequence and the hand-over read; the download engine never learns whether a person watches.

enum class RunMode {
    Attended,  // no switch of ours: today's run, with every question and notice
    Passive,   // the progress dialog only: no question, no proxy or credentials dialog, no notice
    Quiet,     // no window at any moment
};

struct InstallerOptions {
    RunMode mode = RunMode::Attended;
    bool showUsage = false;  // /? or /help: the usage, and nothing else happens
    // An unknown switch, or /log without its file. `badSwitch` names what was wrong.
    bool commandLineWrong = false;
    std::wstring badSwitch;
    std::wstring logPath;  // /log FILE; empty: the log's usual place
    // Everything after "--", exactly as it stood on the command line (quotes included), for the
    // second stage after its language code.
    std::wstring stage2Arguments;

    bool Unattended() const { return mode != RunMode::Attended; }
};

// `commandLine` is the whole command line as the process got it, program name first. A word that
// starts with "/" or "-" is a switch (any case); other words are left alone, as today.
InstallerOptions ParseInstallerCommandLine(const std::wstring& commandLine);

// What the usage says, in a message box and in the log.
extern const wchar_t kInstallerUsage[];

// The exit codes deployment tools understand (Windows Installer's conventions).
namespace ExitCode {
constexpr int kSuccess = 0;
constexpr int kUserQuit = 1602;
constexpr int kInstallFailure = 1603;
constexpr int kAnotherInstallRuns = 1618;
constexpr int kPlatformNotSupported = 1633;
constexpr int kBadCommandLine = 1639;
constexpr int kRestartInitiated = 1641;
constexpr int kRestartRequired = 3010;
}  // namespace ExitCode

// A prerequisite's exit code: installed (0), installed but the machine must restart (3010, 1641),
// or failed (anything else).
enum class PrerequisiteResult { Installed, InstalledRestartNeeded, Failed };
PrerequisiteResult ClassifyPrerequisiteExit(unsigned long exitCode);

// The run's exit code once the second stage has ended: its own, but a restart a prerequisite
// asked for is not lost behind a second stage that ended with 0.
int Stage2ExitCode(unsigned long stage2Exit, bool restartRequested);
