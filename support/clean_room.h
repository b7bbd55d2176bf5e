#pragma once
#include <windows.h>

#include <string>

#include "support/win32_handle.h"

// Every place the elevated installer makes, writes, deletes or starts a program from, outside
// the folder a development run was started in. A release run works in a folder of its own that
// only Administrators and SYSTEM can change, "%ProgramData%\Tarvelo\Setup" (the clean room):
// a program the user runs without elevation can plant nothing there. The two files it keeps in
// the user's profile, the log and the proxy file, are written only where no link leads
// elsewhere. The decisions themselves are in support/portable/clean_room_rules.*.

// Checks every folder of the clean room's path from "%ProgramData%" down: a real folder, not a
// link, owned by Administrators or SYSTEM. A folder below "%ProgramData%" that fails is renamed
// aside and made anew; the clean room gets its protected access list again on every run.
// Returns its path, or empty text (with the reason logged) when it cannot be used.
std::wstring PrepareCleanRoom();

// "%TEMP%\Tarvelo\Logs\InstallerLogs\Stage1Logs.txt", made where missing, opened for reading
// and writing with no sharing, and emptied once it is known to be the log's own file. An empty
// handle (logging is off for the run) when it cannot be, or where a link stands in its path.
// Writes nothing to the log: it opens it.
UniqueHandle OpenLogFile();
// The file a deployment tool named for the log (`/log FILE`, relative to the current folder),
// in place of the usual one, with the same checks; set before the log's first line.
void UseLogFileForRun(const std::wstring& path);

// "%APPDATA%\ProxyInfo.proxy"; empty when that folder is unknown or the path too long.
std::wstring ProxyFilePath();
// Deletes the proxy file at `path` (an earlier run's); left alone, and logged, where a folder of
// its path is a link.
void DeleteProxyFile(const std::wstring& path);
// Appends `bytes` to the proxy file at `path`, which only the user, Administrators and SYSTEM may
// then read. Nothing is written through a link, into a file that another program holds open or
// that has other names; false, logged, then.
bool AppendToProxyFile(const std::wstring& path, const std::string& bytes);

enum class StartedProgram { Prerequisite, SecondStage };

// Starts `commandLine`, whose program is the downloaded file at `program`, held since its checks
// by `checkedFile`. Refused (and logged) without a held file, or when the held file's final path
// is not `program`: then the path would start another file than the one checked. In a release
// run the program's current folder is the clean room; a prerequisite's TMP and TEMP are a folder
// of the clean room made for this run. The held file is let go once the process exists.
bool StartCheckedProgram(const std::wstring& program, const std::wstring& commandLine, UniqueHandle checkedFile,
                         StartedProgram kind, HANDLE* process = nullptr, HANDLE* thread = nullptr);

// Removes the prerequisites' temporary folder, once they have ended.
void RemovePrerequisiteTemp();

// Test seams: the folder that stands for "%ProgramData%" (empty: the real one), and the call that
// gives an open file or folder its access list (returns a Windows error code; null: the real one).
void SetProgramDataForTesting(const std::wstring& folder);
using AccessControlCall = DWORD (*)(HANDLE object, const wchar_t* sddl);
void SetAccessControlCallForTesting(AccessControlCall call);
