// Holds a file open without sharing, the way another program (a virus scanner, an editor, a
// second installer) may hold it, until the test lets it go.
//
//   hold.exe PATH RELEASE_PATH [MAX_MS]
//
// Opens PATH (creating it when missing, keeping its contents) for reading and writing with share
// mode 0, prints {"event":"held"} and keeps it open until RELEASE_PATH exists or MAX_MS
// (default 300000) have passed; then closes it and prints {"event":"released"}.
// Exit code: 0, 2 when PATH could not be opened ({"event":"failed","error":N}), 3 for a usage error.
#include <windows.h>

#include <cstdlib>
#include <string>

#include "tests/tools/support/json_lines.h"

int wmain(int argc, wchar_t** argv)
{
    if (argc < 3) {
        e2e::EmitLine("{\"event\":\"usage\"}");
        return 3;
    }
    const DWORD maxMs = argc > 3 ? std::wcstoul(argv[3], nullptr, 10) : 300000;
    HANDLE file = CreateFileW(argv[1], GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        e2e::EmitLine("{\"event\":\"failed\",\"error\":" + std::to_string(GetLastError()) + "}");
        return 2;
    }
    e2e::EmitLine("{\"event\":\"held\"}");
    const ULONGLONG deadline = GetTickCount64() + maxMs;
    while (GetFileAttributesW(argv[2]) == INVALID_FILE_ATTRIBUTES && GetTickCount64() < deadline)
        Sleep(50);
    CloseHandle(file);
    e2e::EmitLine("{\"event\":\"released\"}");
    return 0;
}
