#pragma once
#include <windows.h>

// A DLL of the system folder, loaded by its full path; the DLLs it imports are looked for in
// the system folder first. nullptr when the path does not fit or the load fails.
HMODULE LoadSystemLibrary(const wchar_t* fileName);

// Keeps DLLs that anyone plants beside the exe (it is started from Downloads, with administrator
// rights) out of this process: later loads by name search the system folder only, and the
// system DLLs that other system DLLs load by name are loaded from the system folder at once.
// Must run before anything loads a DLL by name. True when the platform's restriction took;
// false on a system without it, where only the current folder could be left out.
bool RestrictDllSearch();
