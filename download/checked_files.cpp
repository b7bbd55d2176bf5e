#include "download/checked_files.h"

namespace {
bool SamePath(const std::wstring& a, const std::wstring& b)
{
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()),
                                TRUE) == CSTR_EQUAL;
}
}  // namespace

void CheckedFiles::Keep(const std::wstring& path, UniqueHandle file)
{
    Take(path);
    m_files.emplace_back(path, std::move(file));
}

UniqueHandle CheckedFiles::Take(const std::wstring& path)
{
    for (auto it = m_files.begin(); it != m_files.end(); ++it) {
        if (SamePath(it->first, path)) {
            UniqueHandle file = std::move(it->second);
            m_files.erase(it);
            return file;
        }
    }
    return UniqueHandle();
}
