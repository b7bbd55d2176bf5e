#include "support/system_library.h"

#include <string>

// winhttp.dll is no known DLL and is delay-loaded: loaded here, a load by name finds it even
// where the search cannot be restricted. version.dll and msimg32.dll are loaded by name by the
// system's own DLLs (user32 and the theme library), in ways that do not always keep to the
// restricted search.
const wchar_t* const kPreloadedSystemLibraries[] = {L"version.dll", L"msimg32.dll", L"winhttp.dll", nullptr};

HMODULE LoadSystemLibrary(const wchar_t* fileName)
{
    wchar_t folder[MAX_PATH];
    const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
    // A cut path could name some other file.
    if (length == 0 || length >= MAX_PATH) return nullptr;
    std::wstring path(folder, length);
    if (path.back() != L'\\') path += L'\\';
    path += fileName;
    // The altered search looks for the DLL's own imports in its folder before anywhere else.
    return LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
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
