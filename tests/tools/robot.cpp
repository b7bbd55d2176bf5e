// Drives the dialogs of another process under the same Wine, the way a user would.
//
//   robot.exe wait --pid N|--image NAME.exe --ids 1,2,1014 [--without 1028] [--text ID=SUBSTRING]...
//             [--focus ID] [--timeout-ms T] [--do ACTION]... [--gone]
//       Waits (polling) for a visible dialog of process N that has every control in --ids, none in
//       --without, and whose controls contain the given texts (with --focus: that is also the
//       foreground window with the keyboard focus on control ID); prints it; then performs the
//       actions in order; with --gone, waits until the dialog has closed or hidden itself.
//       ACTION: click:ID (a push button)  notify:ID (a click on a static with SS_NOTIFY)
//               close (the close control, static 1028)  escape  enter  wmclose  sysclose
//               type:ID=TEXT (WM_SETTEXT into an edit)
//   robot.exe absent --pid N --ids ... [--without ...] [--text ID=SUBSTRING]... [--timeout-ms T]
//       Waits (polling) until no visible dialog of process N matches: at once when none is there.
//       What a dialog showed while it was there is in the launcher's record, not here.
//   robot.exe list --pid N        Prints every visible top-level window of process N.
//   robot.exe processes           Prints every process: its id, its parent's and its program.
//   robot.exe sysinfo             Prints the machine as a program here sees it.
//   robot.exe park                Moves the pointer to the screen's corner, away from dialogs.
//
// Every wait is bounded by --timeout-ms, by default the test programs' one limit
// (tests/tools/support/wait_limit.h); so is every message the robot sends.
//
// Output: JSON lines. Exit codes: 0 done, 2 no such dialog in time, 3 an action could not be
// done (control missing, hidden or disabled), 4 the dialog did not go away, 5 usage error,
// 6 the process ended while the robot waited for its dialog.
#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>
#include <tlhelp32.h>
#include <winhttp.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "tests/tools/support/json_lines.h"
#include "tests/tools/support/wait_limit.h"

using e2e::EmitLine;
using e2e::JsonString;
using e2e::JsonHex;

namespace {

struct TextCondition {
    int id;
    std::wstring substring;
};

struct Options {
    std::wstring command;
    DWORD pid = 0;
    std::wstring image;  // instead of --pid: any process running this program file name
    std::vector<int> ids, without;
    std::vector<TextCondition> texts;
    std::vector<std::wstring> actions;
    DWORD timeoutMs = e2e::WaitLimitMs();
    bool gone = false;
    int focus = -1;  // --focus: the control that must have the keyboard focus
};

std::vector<int> ParseIds(const std::wstring& list)
{
    std::vector<int> ids;
    size_t pos = 0;
    while (pos <= list.size()) {
        size_t comma = list.find(L',', pos);
        if (comma == std::wstring::npos) comma = list.size();
        std::wstring item = list.substr(pos, comma - pos);
        if (!item.empty()) ids.push_back(static_cast<int>(std::wcstol(item.c_str(), nullptr, 10)));
        pos = comma + 1;
    }
    return ids;
}

std::string RectJson(const RECT& r)
{
    return "[" + std::to_string(r.left) + "," + std::to_string(r.top) + "," +
           std::to_string(r.right) + "," + std::to_string(r.bottom) + "]";
}

// Reads a control's text through WM_GETTEXT, bounded so that a busy target cannot hang us.
std::wstring TextOf(HWND hwnd)
{
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(hwnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, e2e::WaitLimitMs(), &length)) {
        wchar_t buffer[1024] = L"";
        GetWindowTextW(hwnd, buffer, 1024);
        return buffer;
    }
    std::vector<wchar_t> buffer(length + 2, L'\0');
    DWORD_PTR copied = 0;
    SendMessageTimeoutW(hwnd, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()),
                        SMTO_ABORTIFHUNG, e2e::WaitLimitMs(), &copied);
    return std::wstring(buffer.data());
}

std::wstring ClassOf(HWND hwnd)
{
    wchar_t name[256] = L"";
    GetClassNameW(hwnd, name, 256);
    return name;
}

bool ProcessAlive(DWORD pid)
{
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
    if (!process) return false;
    bool alive = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    CloseHandle(process);
    return alive;
}

struct Finder {
    const Options* options;
    HWND found = nullptr;
    std::vector<HWND> all;
};

std::vector<DWORD> ProcessesOf(const std::wstring& image)
{
    std::vector<DWORD> pids;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return pids;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
        if (lstrcmpiW(entry.szExeFile, image.c_str()) == 0) pids.push_back(entry.th32ProcessID);
    }
    CloseHandle(snapshot);
    return pids;
}

bool OwnedByTarget(HWND hwnd, const Options& o)
{
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (o.image.empty()) return pid == o.pid;
    for (DWORD p : ProcessesOf(o.image))
        if (p == pid) return true;
    return false;
}

// The control with the keyboard focus on the dialog's thread: its id, 0 for the dialog itself,
// -1 for none or a window elsewhere.
int FocusedId(HWND dialog)
{
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &info)) return -1;
    if (info.hwndFocus == dialog) return 0;
    if (info.hwndFocus && IsChild(dialog, info.hwndFocus)) return GetDlgCtrlID(info.hwndFocus);
    return -1;
}

bool Matches(HWND hwnd, const Options& o)
{
    if (!IsWindowVisible(hwnd) || !OwnedByTarget(hwnd, o)) return false;
    if (ClassOf(hwnd) != L"#32770") return false;
    for (int id : o.ids)
        if (!GetDlgItem(hwnd, id)) return false;
    for (int id : o.without)
        if (GetDlgItem(hwnd, id)) return false;
    for (const TextCondition& t : o.texts) {
        HWND control = GetDlgItem(hwnd, t.id);
        if (!control || TextOf(control).find(t.substring) == std::wstring::npos) return false;
    }
    if (o.focus >= 0 && (GetForegroundWindow() != hwnd || FocusedId(hwnd) != o.focus)) return false;
    return true;
}

BOOL CALLBACK FindDialog(HWND hwnd, LPARAM param)
{
    Finder* finder = reinterpret_cast<Finder*>(param);
    if (finder->options->command == L"list") {
        DWORD pid = 0;
        GetWindowThreadProcessId(hwnd, &pid);
        if (pid == finder->options->pid && IsWindowVisible(hwnd)) finder->all.push_back(hwnd);
        return TRUE;
    }
    if (Matches(hwnd, *finder->options)) {
        finder->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

HWND FindNow(const Options& o)
{
    Finder finder{&o, nullptr, {}};
    EnumWindows(FindDialog, reinterpret_cast<LPARAM>(&finder));
    return finder.found;
}

struct ChildList {
    std::vector<HWND> children;
    HWND parent;
};

BOOL CALLBACK CollectChild(HWND hwnd, LPARAM param)
{
    ChildList* list = reinterpret_cast<ChildList*>(param);
    if (GetParent(hwnd) == list->parent) list->children.push_back(hwnd);
    return TRUE;
}

// A message's answer as JSON, null when the window's thread did not answer within the limit.
std::string Ask(HWND window, UINT message, WPARAM wParam)
{
    DWORD_PTR answer = 0;
    if (!SendMessageTimeoutW(window, message, wParam, 0, SMTO_NORMAL, e2e::WaitLimitMs(), &answer)) return "null";
    return std::to_string(static_cast<LRESULT>(answer));
}

std::string DescribeWindow(HWND dialog, const char* event)
{
    RECT rect{};
    GetWindowRect(dialog, &rect);
    DWORD pid = 0;
    GetWindowThreadProcessId(dialog, &pid);
    std::string out = std::string("{\"event\":\"") + event + "\",\"hwnd\":" +
                      JsonHex(reinterpret_cast<ULONG_PTR>(dialog)) + ",\"pid\":" + std::to_string(pid) +
                      ",\"class\":" + JsonString(ClassOf(dialog)) +
                      ",\"text\":" + JsonString(TextOf(dialog)) + ",\"rect\":" + RectJson(rect) +
                      ",\"owner\":" + JsonHex(reinterpret_cast<ULONG_PTR>(GetWindow(dialog, GW_OWNER))) +
                      ",\"enabled\":" + (IsWindowEnabled(dialog) ? "true" : "false") +
                      ",\"foreground\":" + (GetForegroundWindow() == dialog ? "true" : "false") +
                      ",\"focus\":" + std::to_string(FocusedId(dialog)) +
                      // Wine's own X window for it, where the X server must send key presses.
                      ",\"x11_window\":" + JsonHex(reinterpret_cast<ULONG_PTR>(GetPropW(dialog, L"__wine_x11_whole_window"))) +
                      ",\"screen\":[" + std::to_string(GetSystemMetrics(SM_CXSCREEN)) + "," +
                      std::to_string(GetSystemMetrics(SM_CYSCREEN)) + "],\"controls\":[";
    ChildList list{{}, dialog};
    EnumChildWindows(dialog, CollectChild, reinterpret_cast<LPARAM>(&list));
    bool first = true;
    for (HWND child : list.children) {
        RECT r{};
        GetWindowRect(child, &r);
        std::wstring cls = ClassOf(child);
        if (!first) out += ",";
        first = false;
        out += "{\"id\":" + std::to_string(GetDlgCtrlID(child)) + ",\"class\":" + JsonString(cls) +
               ",\"text\":" + JsonString(TextOf(child)) +
               ",\"visible\":" + (IsWindowVisible(child) ? "true" : "false") +
               ",\"enabled\":" + (IsWindowEnabled(child) ? "true" : "false") +
               ",\"style\":" + JsonHex(static_cast<ULONG_PTR>(GetWindowLongPtrW(child, GWL_STYLE))) +
               ",\"rect\":" + RectJson(r);
        if (lstrcmpiW(cls.c_str(), PROGRESS_CLASSW) == 0) {
            out += ",\"pos\":" + Ask(child, PBM_GETPOS, 0) + ",\"range\":[" + Ask(child, PBM_GETRANGE, TRUE) + "," +
                   Ask(child, PBM_GETRANGE, FALSE) + "]";
        }
        out += "}";
    }
    return out + "]}";
}

// Keys go to the control that has the focus inside the dialog, as a real key press would.
HWND KeyTarget(HWND dialog)
{
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    DWORD thread = GetWindowThreadProcessId(dialog, nullptr);
    if (GetGUIThreadInfo(thread, &info) && info.hwndFocus &&
        (info.hwndFocus == dialog || IsChild(dialog, info.hwndFocus))) {
        return info.hwndFocus;
    }
    return dialog;
}

void PostKey(HWND dialog, UINT vk)
{
    HWND target = KeyTarget(dialog);
    UINT scan = MapVirtualKeyW(vk, MAPVK_VK_TO_VSC);
    PostMessageW(target, WM_KEYDOWN, vk, 1 | (scan << 16));
    PostMessageW(target, WM_KEYUP, vk, 1 | (scan << 16) | (3u << 30));
}

// Actions that may open a nested modal dialog are posted, never sent: a sent message would
// block the robot until the nested dialog, which it is meant to answer later, had ended.
int Perform(HWND dialog, const std::wstring& action)
{
    std::string name = JsonString(action);
    auto fail = [&](const char* why) {
        EmitLine("{\"event\":\"action_failed\",\"action\":" + name + ",\"why\":\"" + why + "\"}");
        return 3;
    };
    if (action.rfind(L"click:", 0) == 0) {
        int id = std::wcstol(action.c_str() + 6, nullptr, 10);
        HWND button = GetDlgItem(dialog, id);
        if (!button) return fail("no such control");
        if (!IsWindowVisible(button)) return fail("control hidden");
        if (!IsWindowEnabled(button)) return fail("control disabled");
        PostMessageW(button, BM_CLICK, 0, 0);
    } else if (action == L"close" || action.rfind(L"notify:", 0) == 0) {
        int id = action == L"close" ? 1028 : std::wcstol(action.c_str() + 7, nullptr, 10);
        HWND control = GetDlgItem(dialog, id);
        if (!control) return fail("no such control");
        if (!IsWindowVisible(control)) return fail("control hidden");
        PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, STN_CLICKED), reinterpret_cast<LPARAM>(control));
    } else if (action == L"escape") {
        PostKey(dialog, VK_ESCAPE);
    } else if (action == L"enter") {
        PostKey(dialog, VK_RETURN);
    } else if (action == L"wmclose") {
        PostMessageW(dialog, WM_CLOSE, 0, 0);
    } else if (action == L"sysclose") {
        PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    } else if (action.rfind(L"type:", 0) == 0) {
        size_t eq = action.find(L'=');
        if (eq == std::wstring::npos) return fail("type needs ID=TEXT");
        int id = std::wcstol(action.c_str() + 5, nullptr, 10);
        HWND edit = GetDlgItem(dialog, id);
        if (!edit) return fail("no such control");
        if (!IsWindowVisible(edit) || !IsWindowEnabled(edit)) return fail("control not usable");
        std::wstring text = action.substr(eq + 1);
        DWORD_PTR result = 0;
        // Not SMTO_ABORTIFHUNG: a thread that waited a while before it showed the dialog counts as
        // hung under Wine until its dialog loop first asks for a message, and the text was lost.
        if (!SendMessageTimeoutW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()),
                                 SMTO_NORMAL, e2e::WaitLimitMs(), &result)) {
            return fail("WM_SETTEXT timed out");
        }
    } else {
        return fail("unknown action");
    }
    EmitLine("{\"event\":\"done\",\"action\":" + name + "}");
    return 0;
}

bool Gone(HWND dialog) { return !IsWindow(dialog) || !IsWindowVisible(dialog); }

int Wait(const Options& o)
{
    ULONGLONG deadline = GetTickCount64() + o.timeoutMs;
    HWND dialog = nullptr;
    for (;;) {
        dialog = FindNow(o);
        if (dialog) break;
        if (o.image.empty() && !ProcessAlive(o.pid)) {
            EmitLine("{\"event\":\"process_ended\",\"pid\":" + std::to_string(o.pid) + "}");
            return 6;
        }
        if (GetTickCount64() > deadline) {
            EmitLine("{\"event\":\"timeout\",\"pid\":" + std::to_string(o.pid) + "}");
            return 2;
        }
        Sleep(50);
    }
    EmitLine(DescribeWindow(dialog, "dialog"));
    for (const std::wstring& action : o.actions) {
        int rc = Perform(dialog, action);
        if (rc) return rc;
    }
    if (o.gone) {
        ULONGLONG goneDeadline = GetTickCount64() + o.timeoutMs;
        while (!Gone(dialog)) {
            if (GetTickCount64() > goneDeadline) {
                EmitLine("{\"event\":\"still_there\"," + DescribeWindow(dialog, "x").substr(1));
                return 4;
            }
            Sleep(20);
        }
        EmitLine("{\"event\":\"gone\"}");
    }
    return 0;
}

int Absent(const Options& o)
{
    ULONGLONG deadline = GetTickCount64() + o.timeoutMs;
    while (HWND dialog = FindNow(o)) {
        if (GetTickCount64() > deadline) {
            EmitLine("{\"event\":\"still_there\"," + DescribeWindow(dialog, "x").substr(1));
            return 4;
        }
        Sleep(20);
    }
    EmitLine("{\"event\":\"absent\"}");
    return 0;
}

int List(const Options& o)
{
    Finder finder{&o, nullptr, {}};
    EnumWindows(FindDialog, reinterpret_cast<LPARAM>(&finder));
    for (HWND hwnd : finder.all) EmitLine(DescribeWindow(hwnd, "window"));
    return 0;
}

int Processes()
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return 3;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry))
        EmitLine("{\"event\":\"process\",\"pid\":" + std::to_string(entry.th32ProcessID) +
                 ",\"parent\":" + std::to_string(entry.th32ParentProcessID) +
                 ",\"image\":" + JsonString(std::wstring(entry.szExeFile)) + "}");
    CloseHandle(snapshot);
    return 0;
}

std::wstring Folder(int csidl)
{
    wchar_t path[MAX_PATH] = L"";
    if (FAILED(SHGetFolderPathW(nullptr, csidl, nullptr, 0, path))) return L"";
    return path;
}

int SysInfo()
{
    OSVERSIONINFOEXW version{};
    version.dwOSVersionInfoSize = sizeof version;
    GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&version));
    HKEY key = nullptr;
    bool dotNet = RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\NET Framework Setup\\NDP\\v2.0.50727",
                                0, KEY_READ, &key) == ERROR_SUCCESS;
    if (key) RegCloseKey(key);
    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG ie{};
    std::wstring ieProxy;
    bool ieAuto = false;
    if (WinHttpGetIEProxyConfigForCurrentUser(&ie)) {
        if (ie.lpszProxy) ieProxy = ie.lpszProxy;
        ieAuto = ie.fAutoDetect != FALSE;
        if (ie.lpszProxy) GlobalFree(ie.lpszProxy);
        if (ie.lpszProxyBypass) GlobalFree(ie.lpszProxyBypass);
        if (ie.lpszAutoConfigUrl) GlobalFree(ie.lpszAutoConfigUrl);
    }
    wchar_t cwd[MAX_PATH] = L"";
    GetCurrentDirectoryW(MAX_PATH, cwd);
    EmitLine("{\"event\":\"sysinfo\",\"major\":" + std::to_string(version.dwMajorVersion) +
             ",\"minor\":" + std::to_string(version.dwMinorVersion) +
             ",\"sp\":" + std::to_string(version.wServicePackMajor) +
             ",\"build\":" + std::to_string(version.dwBuildNumber) +
             ",\"admin\":" + (IsUserAnAdmin() ? "true" : "false") +
             ",\"dotnet20\":" + (dotNet ? "true" : "false") +
             ",\"temp\":" + JsonString(e2e::EnvironmentValue(L"TEMP")) +
             ",\"program_files\":" + JsonString(Folder(CSIDL_PROGRAM_FILES)) +
             ",\"appdata\":" + JsonString(Folder(CSIDL_APPDATA)) +
             ",\"ie_proxy\":" + JsonString(ieProxy) + ",\"ie_autodetect\":" + (ieAuto ? "true" : "false") +
             ",\"cwd\":" + JsonString(std::wstring(cwd)) + ",\"acp\":" + std::to_string(GetACP()) + "}");
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    Options o;
    if (argc < 2) return 5;
    o.command = argv[1];
    for (int i = 2; i < argc; ++i) {
        std::wstring a = argv[i];
        bool hasValue = i + 1 < argc;
        if (a == L"--gone") {
            o.gone = true;
        } else if (!hasValue) {
            EmitLine("{\"event\":\"usage\",\"argument\":" + JsonString(a) + "}");
            return 5;
        } else if (a == L"--pid") {
            o.pid = std::wcstoul(argv[++i], nullptr, 10);
        } else if (a == L"--image") {
            o.image = argv[++i];
        } else if (a == L"--ids") {
            o.ids = ParseIds(argv[++i]);
        } else if (a == L"--without") {
            o.without = ParseIds(argv[++i]);
        } else if (a == L"--text") {
            std::wstring pair = argv[++i];
            size_t eq = pair.find(L'=');
            if (eq == std::wstring::npos) return 5;
            o.texts.push_back({static_cast<int>(std::wcstol(pair.c_str(), nullptr, 10)), pair.substr(eq + 1)});
        } else if (a == L"--do") {
            o.actions.push_back(argv[++i]);
        } else if (a == L"--timeout-ms") {
            o.timeoutMs = std::wcstoul(argv[++i], nullptr, 10);
        } else if (a == L"--focus") {
            o.focus = static_cast<int>(std::wcstol(argv[++i], nullptr, 10));
        } else {
            EmitLine("{\"event\":\"usage\",\"argument\":" + JsonString(a) + "}");
            return 5;
        }
    }
    if (o.command == L"sysinfo") return SysInfo();
    if (o.command == L"park") return SetCursorPos(0, 0) ? 0 : 3;
    if (o.command == L"processes") return Processes();
    if (o.pid == 0 && o.image.empty()) return 5;
    if (o.command == L"wait") return Wait(o);
    if (o.command == L"absent") return Absent(o);
    if (o.command == L"list") return List(o);
    return 5;
}
