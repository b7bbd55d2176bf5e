#pragma once
#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "support/win32_handle.h"

// Downloaded files that passed their checks, each held open for reading with read sharing only,
// so that from its check until the program started from it exists nobody can write, rename or
// delete it. The downloaded packages lie in folders that programs without elevation can write.
class CheckedFiles {
public:
    CheckedFiles() = default;
    CheckedFiles(const CheckedFiles&) = delete;
    CheckedFiles& operator=(const CheckedFiles&) = delete;

    void Keep(const std::wstring& path, UniqueHandle file);
    // The handle held for `path` (compared without regard to case), given up by this owner; an
    // empty handle when none is held. The caller starts the program, then closes it.
    UniqueHandle Take(const std::wstring& path);
    void Clear() { m_files.clear(); }

private:
    std::vector<std::pair<std::wstring, UniqueHandle>> m_files;
};
