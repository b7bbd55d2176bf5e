// Starts a program the way a user's shell would, but with an environment and current directory
// chosen by the test, prints its process id (so that the robot can find its windows), waits for
// it and exits with its exit code.
//
//   launch.exe [--cwd DIR] [--env NAME=VALUE]... -- PROGRAM [ARGUMENT]...
//
// Output, one JSON line each: {"event":"started","pid":N} then {"event":"exited","code":N}.
// Exit code: the program's, or 120 when it could not be started, 121 for a usage error.
#include <windows.h>

#include <string>
#include <vector>

#include "tests/tools/support/json_lines.h"

namespace {

// The quoting CommandLineToArgvW and the C runtime undo.
std::wstring Quote(const std::wstring& arg)
{
    if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) return arg;
    std::wstring out = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
        } else if (c == L'"') {
            out.append(backslashes * 2 + 1, L'\\');
            out += c;
            backslashes = 0;
        } else {
            out.append(backslashes, L'\\');
            out += c;
            backslashes = 0;
        }
    }
    out.append(backslashes * 2, L'\\');
    out += L'"';
    return out;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    std::wstring cwd;
    int i = 1;
    for (; i < argc; ++i) {
        std::wstring a = argv[i];
        if (a == L"--") {
            ++i;
            break;
        }
        if (a == L"--cwd" && i + 1 < argc) {
            cwd = argv[++i];
        } else if (a == L"--env" && i + 1 < argc) {
            std::wstring pair = argv[++i];
            size_t eq = pair.find(L'=');
            if (eq == std::wstring::npos || eq == 0) return 121;
            std::wstring value = pair.substr(eq + 1);
            SetEnvironmentVariableW(pair.substr(0, eq).c_str(), value.empty() ? nullptr : value.c_str());
        } else {
            e2e::EmitLine("{\"event\":\"usage\",\"argument\":" + e2e::JsonString(a) + "}");
            return 121;
        }
    }
    if (i >= argc) return 121;
    std::wstring commandLine;
    for (int j = i; j < argc; ++j) {
        if (!commandLine.empty()) commandLine += L' ';
        commandLine += Quote(argv[j]);
    }
    std::vector<wchar_t> buffer(commandLine.begin(), commandLine.end());
    buffer.push_back(L'\0');
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(nullptr, buffer.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        cwd.empty() ? nullptr : cwd.c_str(), &startup, &info)) {
        e2e::EmitLine("{\"event\":\"failed\",\"error\":" + std::to_string(GetLastError()) + "}");
        return 120;
    }
    e2e::EmitLine("{\"event\":\"started\",\"pid\":" + std::to_string(info.dwProcessId) +
                  ",\"cmdline\":" + e2e::JsonString(commandLine) + "}");
    WaitForSingleObject(info.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(info.hProcess, &code);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    e2e::EmitLine("{\"event\":\"exited\",\"code\":" + std::to_string(code) + "}");
    return static_cast<int>(code);
}
