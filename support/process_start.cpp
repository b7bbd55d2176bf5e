#include "support/process_start.h"

#include <vector>

namespace {
const size_t kMaxCommandLine = 32767;

ProcessStartHook& Hook()
{
    static ProcessStartHook hook;
    return hook;
}

BeforeProcessStartHook g_beforeStart = nullptr;
}  // namespace

void SetProcessStartHookForTesting(ProcessStartHook hook) { Hook() = std::move(hook); }
void SetBeforeProcessStartHookForTesting(BeforeProcessStartHook hook) { g_beforeStart = hook; }

bool StartProcess(const std::wstring& commandLine, HANDLE* process, HANDLE* thread, const wchar_t* directory,
                  const wchar_t* environment)
{
    if (process) *process = nullptr;
    if (thread) *thread = nullptr;
    if (Hook()) return Hook()(commandLine);
    // The platform takes 32,767 characters with the terminating zero. Wine starts a longer
    // command line cut to that length, which hands the child another path or argument than the
    // one meant; nothing is started instead, as on Windows.
    if (commandLine.size() >= kMaxCommandLine) return false;

    // CreateProcessW may write into the command line, so it gets a private, exact-length copy.
    std::vector<wchar_t> buffer(commandLine.begin(), commandLine.end());
    buffer.push_back(L'\0');
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (g_beforeStart) g_beforeStart(commandLine);
    const DWORD flags = environment ? CREATE_UNICODE_ENVIRONMENT : 0;
    if (!CreateProcessW(nullptr, buffer.data(), nullptr, nullptr, FALSE, flags, const_cast<wchar_t*>(environment),
                        directory, &startup, &info)) {
        return false;
    }
    if (process) *process = info.hProcess; else CloseHandle(info.hProcess);
    if (thread) *thread = info.hThread; else CloseHandle(info.hThread);
    return true;
}
