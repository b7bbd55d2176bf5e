// Stand-in for the programs the installer starts (second stage, .NET package, Windows Installer
// update, browser). It records how it was started and lives as long as the test says.
//
// Files, by base name B: "%TARVELO_STUB_DIR%\<exe file name in lower case>" when that variable is
// set, else the stub's own full path. The installer chooses the stub's arguments, so everything
// the test controls comes from a side file instead:
//   B.stub  (optional, 8-bit "key=value" lines)
//     wait_for=PATH      stay alive until PATH exists (polled; bounded by max_wait_ms)
//     max_wait_ms=N      bound of that wait, default 300000
//     sleep_ms=N         then sleep N ms
//     exit_code=N        exit code, default 0
//     probe_mutex=NAME   record whether a mutex of that name exists when the stub starts
//   B.calls (appended, one JSON line per event)
//     {"event":"start","pid":..,"exe":..,"cmdline":..,"args":[..],"cwd":..,"temp":..,"tmp":..,
//      "sha256":..,"mutex":..}
//     (sha256: of its own program file as it finds it when it starts, lower-case hex)
//     {"event":"end","pid":..,"exit_code":..,"waited":true|false}
#include <windows.h>
#include <shellapi.h>

#include <cstdlib>
#include <string>

#include "support/portable/sha256.h"
#include "tests/tools/support/json_lines.h"

namespace {

struct Control {
    std::wstring waitFor;
    DWORD maxWaitMs = 300000;
    DWORD sleepMs = 0;
    int exitCode = 0;
    std::wstring probeMutex;
};

// The control file is UTF-8: its paths lie under the checkout, whose folder names may be in any script.
std::wstring Widen(const std::string& s)
{
    if (s.empty()) return std::wstring();
    const int length = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    if (length <= 0) return std::wstring();
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), &wide[0], length);
    return wide;
}

Control ReadControl(const std::wstring& path)
{
    Control control;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return control;
    std::string text;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) text.append(buffer, got);
    CloseHandle(file);
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
        size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        std::string key = line.substr(0, eq), value = line.substr(eq + 1);
        if (key == "wait_for") control.waitFor = Widen(value);
        else if (key == "max_wait_ms") control.maxWaitMs = std::strtoul(value.c_str(), nullptr, 10);
        else if (key == "sleep_ms") control.sleepMs = std::strtoul(value.c_str(), nullptr, 10);
        else if (key == "exit_code") control.exitCode = std::atoi(value.c_str());
        else if (key == "probe_mutex") control.probeMutex = Widen(value);
    }
    return control;
}

// Lower case, so that the test finds the records whatever case the starter used.
std::wstring BaseName(const std::wstring& path)
{
    size_t slash = path.find_last_of(L"\\/");
    std::wstring name = slash == std::wstring::npos ? path : path.substr(slash + 1);
    for (wchar_t& c : name)
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    return name;
}

std::string FileSha256(const std::wstring& path)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return "";
    Sha256 hash;
    unsigned char buffer[65536];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) hash.Update(buffer, got);
    CloseHandle(file);
    std::string hex;
    for (unsigned char byte : hash.Finish()) {
        hex += "0123456789abcdef"[byte >> 4];
        hex += "0123456789abcdef"[byte & 15];
    }
    return hex;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int)
{
    std::wstring exe = e2e::ModulePath();
    std::wstring folder = e2e::EnvironmentValue(L"TARVELO_STUB_DIR");
    std::wstring base = folder.empty() ? exe : folder + L"\\" + BaseName(exe);
    Control control = ReadControl(base + L".stub");
    std::string pid = std::to_string(GetCurrentProcessId());

    std::string args = "[";
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    for (int i = 1; argv && i < argc; ++i) {
        if (i > 1) args += ",";
        args += e2e::JsonString(std::wstring(argv[i]));
    }
    args += "]";
    if (argv) LocalFree(argv);
    wchar_t cwd[MAX_PATH + 1] = L"";
    GetCurrentDirectoryW(MAX_PATH + 1, cwd);

    std::string start = "{\"event\":\"start\",\"pid\":" + pid + ",\"exe\":" + e2e::JsonString(exe) +
                        ",\"cmdline\":" + e2e::JsonString(std::wstring(GetCommandLineW())) +
                        ",\"args\":" + args + ",\"cwd\":" + e2e::JsonString(std::wstring(cwd)) +
                        ",\"temp\":" + e2e::JsonString(e2e::EnvironmentValue(L"TEMP")) +
                        ",\"tmp\":" + e2e::JsonString(e2e::EnvironmentValue(L"TMP")) +
                        ",\"sha256\":\"" + FileSha256(exe) + "\"";
    if (!control.probeMutex.empty()) {
        HANDLE mutex = OpenMutexW(SYNCHRONIZE, FALSE, control.probeMutex.c_str());
        start += std::string(",\"mutex\":") + (mutex ? "true" : "false");
        if (mutex) CloseHandle(mutex);
    }
    e2e::AppendLine(base + L".calls", start + "}");

    bool waited = false;
    if (!control.waitFor.empty()) {
        ULONGLONG deadline = GetTickCount64() + control.maxWaitMs;
        while (GetFileAttributesW(control.waitFor.c_str()) == INVALID_FILE_ATTRIBUTES) {
            if (GetTickCount64() > deadline) break;
            Sleep(50);
        }
        waited = GetFileAttributesW(control.waitFor.c_str()) != INVALID_FILE_ATTRIBUTES;
    }
    if (control.sleepMs) Sleep(control.sleepMs);
    e2e::AppendLine(base + L".calls", "{\"event\":\"end\",\"pid\":" + pid + ",\"exit_code\":" +
                                          std::to_string(control.exitCode) + ",\"waited\":" +
                                          (waited ? "true" : "false") + "}");
    return control.exitCode;
}
