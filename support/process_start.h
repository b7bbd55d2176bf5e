#pragma once
#include <windows.h>
#include <functional>
#include <string>

// Starts a child program the way every caller in this installer does: no application name, the
// command line as given, no inheritance. `directory` and `environment` (a block of UTF-16
// strings) are the child's; null: this process's.
// On success the handles are stored where asked (and must be closed by the caller) or closed here.
bool StartProcess(const std::wstring& commandLine, HANDLE* process = nullptr, HANDLE* thread = nullptr,
                  const wchar_t* directory = nullptr, const wchar_t* environment = nullptr);

// Test seam: while set, StartProcess records through the hook instead of starting anything.
// The hook returns whether the "start" succeeded; no handles are produced then.
using ProcessStartHook = std::function<bool(const std::wstring& commandLine)>;
void SetProcessStartHookForTesting(ProcessStartHook hook);

// Test seam: called with the command line right before a real start, the last moment at which
// another program could still try to change the file that is about to be started.
using BeforeProcessStartHook = void (*)(const std::wstring& commandLine);
void SetBeforeProcessStartHookForTesting(BeforeProcessStartHook hook);
