#include "support/system_library.h"

// winhttp.dll is no known DLL and is delay-loaded: loaded here, a load by name finds it even
// where the search cannot be restricted. version.dll and msimg32.dll are loaded by name by the
// system's own DLLs (user32 and the theme library), in ways that do not always keep to the
// restricted search.
namespace {
const wchar_t* const kPreloadedSystemLibraries[] = {L"version.dll", L"msimg32.dll", L"winhttp.dll", nullptr};
}  // namespace

HMODULE LoadSystemLibrary(const wchar_t* fileName)
{
    wchar_t path[MAX_PATH];
    UINT length = GetSystemDirectoryW(path, MAX_PATH);
    // A cut path could name some other file.
    if (length == 0 || length >= MAX_PATH) return nullptr;
    if (path[length - 1] != L'\\') {
        if (length + 1 >= MAX_PATH) return nullptr;
        path[length++] = L'\\';
    }
    for (const wchar_t* c = fileName; *c; ++c) {
        if (length + 1 >= MAX_PATH) return nullptr;
        path[length++] = *c;
    }
    path[length] = L'\0';
    // The altered search looks for the DLL's own imports in its folder before anywhere else.
    return LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

bool RestrictDllSearch()
{
    // Present from Windows 8 on, and on Vista and 7 with update KB2533623.
    using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
    const auto setDefaultDllDirectories = reinterpret_cast<SetDefaultDllDirectoriesFunction>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories")));
    const bool restricted = setDefaultDllDirectories && setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    // Without it the exe's folder stays in the search: only the current folder can be taken out.
    if (!restricted) SetDllDirectoryW(L"");
    for (const wchar_t* const* name = kPreloadedSystemLibraries; *name; ++name) LoadSystemLibrary(*name);
    return restricted;
}
