// Starts a program the way a user's shell would, but with an environment and current directory
// chosen by the test, prints its process id (so that the robot can find its windows), records
// what its windows announce to accessibility tools while it runs, waits for it and exits with
// its exit code.
//
//   launch.exe [--cwd DIR] [--env NAME=VALUE]... -- PROGRAM [ARGUMENT]...
//
// Output, one JSON line each: {"event":"started","pid":N,"cmdline":...,"recording":true|false},
// then every EVENT_OBJECT_VALUECHANGE and EVENT_OBJECT_NAMECHANGE of the program's windows, and
// every window it creates or shows (EVENT_OBJECT_CREATE, EVENT_OBJECT_SHOW), in the order they
// were raised, then {"event":"exited","code":N} once every event raised before the program ended
// has been written:
//   {"event":"value","hwnd":"0x..","id":N,"class":"...","thread":N,"pos":N|null,"late_ms":N}
//   {"event":"name","hwnd":"0x..","id":N,"class":"...","thread":N,"text":"..."|null,"late_ms":N}
//   {"event":"create"|"show","hwnd":"0x..","id":N,"class":"...","thread":N,"top":true|false,"late_ms":N}
// ("class" empty and "top" false where the window was gone when the event was read).
// ("thread": the thread that raised it).
// An event carries no value: "pos" (PBM_GETPOS of a progress bar) and "text" are read when the
// event arrives, "late_ms" after it was raised, so they may be newer than what the event
// announced; null when the window was gone by then.
// Exit code: the program's, or 120 when it could not be started, 121 for a usage error.
//
// How Wine 8 delivers these events (measured with 2,000 events from another process): an
// out-of-context hook's events wait in the hooking thread's message queue until it asks for
// messages, none lost, in order. But a thread of the program that has taken a message from its
// queue before the hook existed keeps "no event hooks" in a cache and raises nothing until it
// takes another (none of 2,000 arrived); so the hook is set while the program is still
// suspended. And a hook procedure that sends a message which lets other sent messages in
// (SendMessage without SMTO_BLOCK) is entered again by the queued events, and Wine drops those
// nested calls (1,414 of 2,000 arrived); so every read here is blocking or needs no message.
#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

#include "tests/tools/support/json_lines.h"
#include "tests/tools/support/wait_limit.h"

namespace {

// Everything here is read without a message the program's thread must answer, or with a send
// that lets nothing else in: see the note on nested calls above.
void CALLBACK Recorded(HWINEVENTHOOK, DWORD event, HWND window, LONG objectId, LONG childId, DWORD thread,
                       DWORD raisedAt)
{
    wchar_t cls[64] = L"";
    if (event == EVENT_OBJECT_DESTROY) return;  // inside the hooked range, and not asked for
    if (event == EVENT_OBJECT_CREATE || event == EVENT_OBJECT_SHOW) {
        // Windows only, not the parts of one (a caret, a cursor) that raise the same events.
        if (objectId != OBJID_WINDOW || childId != CHILDID_SELF) return;
        GetClassNameW(window, cls, 64);
        const bool top = IsWindow(window) && GetAncestor(window, GA_PARENT) == GetDesktopWindow();
        e2e::EmitLine(std::string("{\"event\":\"") + (event == EVENT_OBJECT_CREATE ? "create" : "show") +
                      "\",\"hwnd\":" + e2e::JsonHex(reinterpret_cast<ULONG_PTR>(window)) +
                      ",\"id\":" + std::to_string(GetDlgCtrlID(window)) + ",\"class\":" +
                      e2e::JsonString(std::wstring(cls)) + ",\"thread\":" + std::to_string(thread) +
                      ",\"top\":" + (top ? "true" : "false") +
                      ",\"late_ms\":" + std::to_string(GetTickCount() - raisedAt) + "}");
        return;
    }
    if (objectId != OBJID_CLIENT || childId != CHILDID_SELF) return;
    GetClassNameW(window, cls, 64);
    std::string line = std::string("{\"event\":\"") + (event == EVENT_OBJECT_VALUECHANGE ? "value" : "name") +
                       "\",\"hwnd\":" + e2e::JsonHex(reinterpret_cast<ULONG_PTR>(window)) +
                       ",\"id\":" + std::to_string(GetDlgCtrlID(window)) + ",\"class\":" + e2e::JsonString(std::wstring(cls)) +
                       ",\"thread\":" + std::to_string(thread);
    if (event == EVENT_OBJECT_VALUECHANGE) {
        DWORD_PTR pos = 0;
        const bool read = lstrcmpiW(cls, PROGRESS_CLASSW) == 0 &&
                          SendMessageTimeoutW(window, PBM_GETPOS, 0, 0, SMTO_BLOCK, e2e::WaitLimitMs(), &pos);
        line += ",\"pos\":" + (read ? std::to_string(static_cast<long>(pos)) : std::string("null"));
    } else {
        // Another process's window text comes from the window manager, not from its thread.
        std::vector<wchar_t> text(4096, L'\0');
        bool read = IsWindow(window) != FALSE;
        if (read) {
            GetWindowTextW(window, text.data(), static_cast<int>(text.size()));
            read = IsWindow(window) != FALSE;  // not the empty text of a window gone meanwhile
        }
        line += ",\"text\":" + (read ? e2e::JsonString(std::wstring(text.data())) : std::string("null"));
    }
    e2e::EmitLine(line + ",\"late_ms\":" + std::to_string(GetTickCount() - raisedAt) + "}");
}

// Lets every event that waits in this thread's queue through the hook.
void DeliverQueued()
{
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
}

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
    MSG message;
    PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE);  // the queue the events wait in
    if (!CreateProcessW(nullptr, buffer.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr,
                        cwd.empty() ? nullptr : cwd.c_str(), &startup, &info)) {
        e2e::EmitLine("{\"event\":\"failed\",\"error\":" + std::to_string(GetLastError()) + "}");
        return 120;
    }
    const HWINEVENTHOOK values = SetWinEventHook(EVENT_OBJECT_VALUECHANGE, EVENT_OBJECT_VALUECHANGE, nullptr,
                                                 Recorded, info.dwProcessId, 0, WINEVENT_OUTOFCONTEXT);
    const HWINEVENTHOOK names = SetWinEventHook(EVENT_OBJECT_NAMECHANGE, EVENT_OBJECT_NAMECHANGE, nullptr,
                                                Recorded, info.dwProcessId, 0, WINEVENT_OUTOFCONTEXT);
    const HWINEVENTHOOK windows = SetWinEventHook(EVENT_OBJECT_CREATE, EVENT_OBJECT_SHOW, nullptr, Recorded,
                                                  info.dwProcessId, 0, WINEVENT_OUTOFCONTEXT);
    e2e::EmitLine("{\"event\":\"started\",\"pid\":" + std::to_string(info.dwProcessId) +
                  ",\"cmdline\":" + e2e::JsonString(commandLine) +
                  ",\"recording\":" + (values && names && windows ? "true" : "false") + "}");
    ResumeThread(info.hThread);
    while (MsgWaitForMultipleObjects(1, &info.hProcess, FALSE, INFINITE, QS_ALLINPUT) != WAIT_OBJECT_0)
        DeliverQueued();
    // Every event the program raised is in the queue by now.
    DeliverQueued();
    for (HWINEVENTHOOK hook : {values, names, windows})
        if (hook) UnhookWinEvent(hook);
    DWORD code = 0;
    GetExitCodeProcess(info.hProcess, &code);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    e2e::EmitLine("{\"event\":\"exited\",\"code\":" + std::to_string(code) + "}");
    return static_cast<int>(code);
}
