#pragma once
#include <windows.h>

#include <string>

// A private folder below the Windows temporary folder, removed with everything in it when the
// object goes away. Names carry the process id, so parallel test programs never share one.
class TempFolder {
public:
    explicit TempFolder(const std::wstring& name);
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::wstring& Path() const { return m_path; }
    std::wstring operator/(const std::wstring& relative) const { return m_path + L"\\" + relative; }

private:
    std::wstring m_path;
};

// Whole-file helpers for tests; they report failure instead of throwing.
bool WriteWholeFile(const std::wstring& path, const std::string& bytes);
bool ReadWholeFile(const std::wstring& path, std::string& bytes);
bool FileExists(const std::wstring& path);

// A Unix symbolic link at `link` leading to `target` (both Windows paths), as a program of the
// user could plant one; Wine shows one to a folder as a junction (FILE_ATTRIBUTE_REPARSE_POINT).
// False when it did not appear.
bool MakeLink(const std::wstring& link, const std::wstring& target);
// The same file or folder by its name on Wine's drive Z: (the Unix root): a path outside any
// Windows profile.
std::wstring UnixDrivePath(const std::wstring& path);

// Sets (or, with `remove`, deletes) an environment variable of this process for one scope.
class ScopedEnvironmentVariable {
public:
    ScopedEnvironmentVariable(const wchar_t* name, const wchar_t* value);
    ~ScopedEnvironmentVariable();
    ScopedEnvironmentVariable(const ScopedEnvironmentVariable&) = delete;
    ScopedEnvironmentVariable& operator=(const ScopedEnvironmentVariable&) = delete;

private:
    std::wstring m_name, m_old;
    bool m_hadOld = false;
};

// Changes this process's current directory for one scope.
class ScopedCurrentDirectory {
public:
    explicit ScopedCurrentDirectory(const std::wstring& directory);
    ~ScopedCurrentDirectory();
    ScopedCurrentDirectory(const ScopedCurrentDirectory&) = delete;
    ScopedCurrentDirectory& operator=(const ScopedCurrentDirectory&) = delete;
    bool Changed() const { return m_changed; }

private:
    std::wstring m_old;
    bool m_changed = false;
};

// A Unix path given in the environment, read wide: the narrow environment is in the ANSI code
// page and loses every character of a checkout's path that the code page lacks.
std::wstring UnixPathFromEnvironment(const wchar_t* variable);
// The same path as Wine's Z: drive shows it ("" when the variable is missing).
std::wstring WindowsPathFromEnvironment(const wchar_t* variable);

// The source tree or build tree as a Windows path, from TARVELO_SOURCE_DIR / TARVELO_BUILD_DIR.
std::wstring SourceTreePath(const std::wstring& relative);
std::wstring BuildTreePath(const std::wstring& relative);
