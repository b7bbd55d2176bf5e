#pragma once
// Small helpers shared by the end-to-end helper programs: JSON lines on stdout (pure ASCII, wide
// text escaped as \uXXXX code units) and whole-line appends to a record file.
#include <windows.h>

#include <cstdio>
#include <string>

namespace e2e {

inline std::string JsonString(const std::wstring& text)
{
    std::string out = "\"";
    for (wchar_t c : text) {
        unsigned u = static_cast<unsigned>(c) & 0xFFFFu;
        if (u == '"' || u == '\\') {
            out += '\\';
            out += static_cast<char>(u);
        } else if (u >= 0x20 && u < 0x7F) {
            out += static_cast<char>(u);
        } else {
            char buffer[8];
            std::snprintf(buffer, sizeof buffer, "\\u%04x", u);
            out += buffer;
        }
    }
    out += '"';
    return out;
}

inline std::string JsonString(const std::string& text)
{
    return JsonString(std::wstring(text.begin(), text.end()));
}

// A handle or pointer as a JSON string, "0x1a2b".
inline std::string JsonHex(ULONG_PTR value)
{
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "\"0x%llx\"", static_cast<unsigned long long>(value));
    return buffer;
}

// One line to stdout, flushed at once so that a reader sees it while the program still runs.
inline void EmitLine(const std::string& line)
{
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

// Appends one line with a single write, so that lines of concurrent writers never interleave.
inline bool AppendLine(const std::wstring& path, const std::string& line)
{
    HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    std::string data = line + "\n";
    DWORD written = 0;
    BOOL ok = WriteFile(file, data.data(), static_cast<DWORD>(data.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == data.size();
}

inline std::wstring ModulePath()
{
    std::wstring path(512, L'\0');
    for (;;) {
        DWORD n = GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
        if (n == 0) return L"";
        if (n < path.size()) {
            path.resize(n);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

inline std::wstring EnvironmentValue(const wchar_t* name)
{
    DWORD n = GetEnvironmentVariableW(name, nullptr, 0);
    if (n == 0) return L"";
    std::wstring value(n, L'\0');
    n = GetEnvironmentVariableW(name, &value[0], n);
    value.resize(n);
    return value;
}

}  // namespace e2e
