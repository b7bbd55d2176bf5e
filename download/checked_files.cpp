#include "download/checked_files.h"

namespace {
bool SamePath(const std::wstring& a, const std::wstring& b)
{
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()),
                                TRUE) == CSTR_EQUAL;
}
}  // namespace

bool CheckedFiles::Keep(const std::wstring& path, UniqueHandle file)
{
    Take(path);
    for (Entry& entry : m_files) {
        if (entry.file.Valid()) continue;
        entry.path = path;
        entry.file = std::move(file);
        return true;
    }
    return false;
}

UniqueHandle CheckedFiles::Take(const std::wstring& path)
{
    for (Entry& entry : m_files) {
        if (entry.file.Valid() && SamePath(entry.path, path)) return UniqueHandle(entry.file.Release());
    }
    return UniqueHandle();
}

void CheckedFiles::Clear()
{
    for (Entry& entry : m_files) entry.file.Reset();
}
