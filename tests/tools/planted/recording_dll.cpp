// Stand-in for a DLL that a web page made the browser drop into the Downloads folder. Copied
// under the name of a system DLL beside the installer, it records every process that loads it.
//
// Record: one JSON line per load, appended to "<its own path>.loaded":
//   {"event":"loaded","dll":"<its path>","exe":"<the process's exe>","pid":N}
#include <windows.h>

namespace {

// Only kernel32 (and the C runtime's msvcrt, which every process has loaded already): whatever
// loads it must not need another planted name for it.
void AppendUtf8(HANDLE file, const wchar_t* text)
{
    char buffer[1024];
    const int length = WideCharToMultiByte(CP_UTF8, 0, text, -1, buffer, sizeof buffer, nullptr, nullptr);
    if (length <= 1) return;
    DWORD written = 0;
    WriteFile(file, buffer, static_cast<DWORD>(length - 1), &written, nullptr);
}

void AppendJsonString(HANDLE file, const wchar_t* text)
{
    wchar_t escaped[2 * MAX_PATH + 3];
    int at = 0;
    escaped[at++] = L'"';
    for (const wchar_t* c = text; *c && at < 2 * MAX_PATH; ++c) {
        if (*c == L'\\' || *c == L'"') escaped[at++] = L'\\';
        escaped[at++] = *c;
    }
    escaped[at++] = L'"';
    escaped[at] = L'\0';
    AppendUtf8(file, escaped);
}

void Record(HINSTANCE self)
{
    wchar_t dll[MAX_PATH + 1] = L"";
    wchar_t exe[MAX_PATH + 1] = L"";
    GetModuleFileNameW(self, dll, MAX_PATH);
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    wchar_t record[MAX_PATH + 16];
    lstrcpynW(record, dll, MAX_PATH);
    lstrcatW(record, L".loaded");
    HANDLE file = CreateFileW(record, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    wchar_t pid[16];
    int at = 15;
    pid[at] = L'\0';
    DWORD value = GetCurrentProcessId();
    do {
        pid[--at] = static_cast<wchar_t>(L'0' + value % 10);
        value /= 10;
    } while (value && at > 0);
    AppendUtf8(file, L"{\"event\":\"loaded\",\"dll\":");
    AppendJsonString(file, dll);
    AppendUtf8(file, L",\"exe\":");
    AppendJsonString(file, exe);
    AppendUtf8(file, L",\"pid\":");
    AppendUtf8(file, pid + at);
    AppendUtf8(file, L"}\n");
    CloseHandle(file);
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) Record(self);
    return TRUE;
}
