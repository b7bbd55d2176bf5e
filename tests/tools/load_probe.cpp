// A program that takes no care where its DLLs come from: it loads each DLL named on its command
// line by name, as any program does that never restricts the search, and says which file each
// load found. Copied beside planted DLLs, it shows that the planting works at all.
//
//   load_probe.exe NAME.dll...
//
// Output, one JSON line per name: {"event":"loaded","name":..,"path":..} or
// {"event":"failed","name":..,"error":N}. It imports only kernel32 and the C runtime, so nothing
// planted is loaded before it asks.
#include <windows.h>

#include <string>

#include "tests/tools/support/json_lines.h"

int wmain(int argc, wchar_t** argv)
{
    for (int i = 1; i < argc; ++i) {
        HMODULE module = LoadLibraryW(argv[i]);
        if (!module) {
            e2e::EmitLine("{\"event\":\"failed\",\"name\":" + e2e::JsonString(std::wstring(argv[i])) +
                          ",\"error\":" + std::to_string(GetLastError()) + "}");
            continue;
        }
        wchar_t path[MAX_PATH + 1] = L"";
        GetModuleFileNameW(module, path, MAX_PATH);
        e2e::EmitLine("{\"event\":\"loaded\",\"name\":" + e2e::JsonString(std::wstring(argv[i])) +
                      ",\"path\":" + e2e::JsonString(std::wstring(path)) + "}");
    }
    return 0;
}
