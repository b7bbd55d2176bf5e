#pragma once
#include <windows.h>

#include <string>

#include "prereq/portable/download_plan.h"
#include "support/win32_handle.h"

// Downloaded files that passed their checks, each held open for reading with read sharing only,
// so that from its check until the program started from it exists nobody can write, rename or
// delete it. The downloaded packages lie in folders that programs without elevation can write.
class CheckedFiles {
public:
    CheckedFiles() = default;
    CheckedFiles(const CheckedFiles&) = delete;
    CheckedFiles& operator=(const CheckedFiles&) = delete;

    // One place per entry of the largest plan; the downloads of one plan never need more.
    static constexpr int kCapacity = PlanMsiAndDotNet;

    // False (and the file is let go) when all places are taken.
    bool Keep(const std::wstring& path, UniqueHandle file);
    // The handle held for `path` (compared without regard to case), given up by this owner; an
    // empty handle when none is held. The caller starts the program, then closes it.
    UniqueHandle Take(const std::wstring& path);
    void Clear();

private:
    struct Entry {
        std::wstring path;
        UniqueHandle file;
    };
    Entry m_files[kCapacity];
};
