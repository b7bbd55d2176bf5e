#include "app/portable/unattended.h"

#include "download/portable/script_child_pipe.h"

const wchar_t kInstallerUsage[] =
    L"TarveloSetup.exe [/quiet | /passive] [/log FILE] [-- ARGS]\r\n"
    L"\r\n"
    L"/quiet\tNo window at any moment: .NET is installed where it is missing, and no question is asked.\r\n"
    L"/passive\tOnly the progress dialog, which can be closed to quit; no question is asked.\r\n"
    L"/log FILE\tThe log is written to FILE.\r\n"
    L"/?, /help\tThis text.\r\n"
    L"-- ARGS\tEverything after -- is passed to the second stage after its language code.\r\n"
    L"\r\n"
    L"Exit codes of /quiet and /passive runs: the second stage's own; 3010 when a prerequisite asked "
    L"for a restart; 1602 quit by the user; 1603 failed; 1618 another copy runs; 1633 Windows version "
    L"not supported; 1639 wrong command line.";

namespace {

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

// The program name as the platform reads it: up to the closing quote when it starts with one,
// else up to the first blank. Its backslashes are never escapes.
size_t SkipProgramName(const std::wstring& line)
{
    size_t i = 0;
    if (i < line.size() && line[i] == L'"') {
        ++i;
        while (i < line.size() && line[i] != L'"') ++i;
        if (i < line.size()) ++i;
    } else {
        while (i < line.size() && !IsBlank(line[i])) ++i;
    }
    return i;
}

// The next word from `i`, split and unquoted as the C runtime splits a command line. False at
// the end of the line.
bool NextWord(const std::wstring& line, size_t& i, std::wstring& word)
{
    while (i < line.size() && IsBlank(line[i])) ++i;
    if (i >= line.size()) return false;
    word.clear();
    bool quoted = false;
    while (i < line.size()) {
        const wchar_t c = line[i];
        if (c == L'\\') {
            size_t count = 0;
            while (i < line.size() && line[i] == L'\\') {
                ++count;
                ++i;
            }
            if (i < line.size() && line[i] == L'"') {
                word.append(count / 2, L'\\');
                if (count % 2 == 1) {
                    word += L'"';
                    ++i;
                }
            } else {
                word.append(count, L'\\');
            }
            continue;
        }
        if (c == L'"') {
            if (quoted && i + 1 < line.size() && line[i + 1] == L'"') {
                word += L'"';
                i += 2;
            } else {
                quoted = !quoted;
                ++i;
            }
            continue;
        }
        if (!quoted && IsBlank(c)) break;
        word += c;
        ++i;
    }
    return true;
}

std::wstring AsciiLower(std::wstring text)
{
    for (wchar_t& c : text)
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    return text;
}

}  // namespace

InstallerOptions ParseInstallerCommandLine(const std::wstring& commandLine)
{
    InstallerOptions options;
    bool quiet = false;
    bool passive = false;
    auto wrong = [&options](const std::wstring& what) {
        if (options.commandLineWrong) return;  // the first fault is the one named
        options.commandLineWrong = true;
        options.badSwitch = what;
    };

    size_t i = SkipProgramName(commandLine);
    std::wstring word;
    while (NextWord(commandLine, i, word)) {
        if (word == L"--") {
            size_t rest = i;
            while (rest < commandLine.size() && IsBlank(commandLine[rest])) ++rest;
            size_t end = commandLine.size();
            while (end > rest && IsBlank(commandLine[end - 1])) --end;
            options.stage2Arguments = commandLine.substr(rest, end - rest);
            break;
        }
        if (word.empty() || (word[0] != L'/' && word[0] != L'-')) continue;
        // The proxy script child's switch, typed by a user, leads to the normal run.
        if (IsScriptChildSwitch(word)) continue;
        const std::wstring name = AsciiLower(word.substr(1));
        if (name == L"quiet") {
            quiet = true;
        } else if (name == L"passive") {
            passive = true;
        } else if (name == L"?" || name == L"help") {
            options.showUsage = true;
        } else if (name == L"log") {
            std::wstring file;
            if (!NextWord(commandLine, i, file) || file.empty() || file == L"--") {
                wrong(word);
                break;
            }
            options.logPath = file;
        } else {
            wrong(word);
        }
    }
    // Asked for both, the run keeps the promise of the stronger one: no window.
    options.mode = quiet ? RunMode::Quiet : passive ? RunMode::Passive : RunMode::Attended;
    return options;
}

PrerequisiteResult ClassifyPrerequisiteExit(unsigned long exitCode)
{
    if (exitCode == 0) return PrerequisiteResult::Installed;
    if (exitCode == ExitCode::kRestartRequired || exitCode == ExitCode::kRestartInitiated)
        return PrerequisiteResult::InstalledRestartNeeded;
    return PrerequisiteResult::Failed;
}

int Stage2ExitCode(unsigned long stage2Exit, bool restartRequested)
{
    if (stage2Exit == 0 && restartRequested) return ExitCode::kRestartRequired;
    return static_cast<int>(stage2Exit);
}
