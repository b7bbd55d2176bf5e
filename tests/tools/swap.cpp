// Tries what another program running without elevation might try on a downloaded package
// between its check and its start: overwrite it in place, rename it away, put another file in
// its place, delete it.
//
//   swap.exe PATH
//
// Output, one JSON line per attempt, in this order:
//   {"event":"attempt","what":"overwrite"|"rename"|"replace"|"delete","ok":true|false,"error":N}
// An attempt that succeeds is left as it is, so that the test sees its effect. Exit code 0, or
// 3 for a usage error.
#include <windows.h>

#include <string>

#include "tests/tools/support/json_lines.h"

namespace {

void Report(const char* what, bool ok)
{
    const DWORD error = ok ? 0 : GetLastError();
    e2e::EmitLine(std::string("{\"event\":\"attempt\",\"what\":\"") + what + "\",\"ok\":" +
                  (ok ? "true" : "false") + ",\"error\":" + std::to_string(error) + "}");
}

const char kForeign[] = "MZ this is not the program that was checked";

bool Overwrite(const std::wstring& path)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const BOOL ok = WriteFile(file, kForeign, sizeof kForeign, &written, nullptr);
    const DWORD error = GetLastError();
    CloseHandle(file);
    SetLastError(error);
    return ok != FALSE;
}

bool Replace(const std::wstring& path)
{
    const std::wstring foreign = path + L".foreign";
    HANDLE file = CreateFileW(foreign.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    WriteFile(file, kForeign, sizeof kForeign, &written, nullptr);
    CloseHandle(file);
    if (MoveFileExW(foreign.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
    const DWORD error = GetLastError();
    DeleteFileW(foreign.c_str());
    SetLastError(error);
    return false;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2) {
        e2e::EmitLine("{\"event\":\"usage\"}");
        return 3;
    }
    const std::wstring path = argv[1];
    Report("overwrite", Overwrite(path));
    Report("rename", MoveFileExW(path.c_str(), (path + L".moved").c_str(), 0) != FALSE);
    Report("replace", Replace(path));
    Report("delete", DeleteFileW(path.c_str()) != FALSE);
    return 0;
}
