#include "support/scratch_folder.h"

#include <shellapi.h>

#include <vector>

#include "support/process_start.h"

namespace {

void RemoveTree(const std::wstring& path)
{
    std::vector<wchar_t> from(path.begin(), path.end());
    from.push_back(L'\0');
    from.push_back(L'\0');  // SHFileOperation takes a double-terminated list
    SHFILEOPSTRUCTW op{};
    op.wFunc = FO_DELETE;
    op.pFrom = from.data();
    op.fFlags = FOF_NO_UI;
    SHFileOperationW(&op);
}

std::wstring UnixTreePath(const wchar_t* variable, const std::wstring& relative)
{
    const std::wstring path = WindowsPathFromEnvironment(variable);
    if (path.empty()) return path;
    return relative.empty() ? path : path + L"\\" + relative;
}

// Wine's own name of a Windows path on the Unix side, as UTF-8 turned wide; empty without Wine.
std::wstring UnixName(const std::wstring& path)
{
    using UnixFileName = char*(CDECL*)(const wchar_t*);
    const auto convert = reinterpret_cast<UnixFileName>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    char* name = convert ? convert(path.c_str()) : nullptr;
    if (!name) return std::wstring();
    const int length = MultiByteToWideChar(CP_UTF8, 0, name, -1, nullptr, 0);
    std::wstring wide(length > 0 ? static_cast<size_t>(length) : 1, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, name, -1, &wide[0], length);
    HeapFree(GetProcessHeap(), 0, name);
    wide.resize(wide.size() - 1);
    return wide;
}

}  // namespace

bool MakeLink(const std::wstring& link, const std::wstring& target)
{
    const std::wstring from = UnixName(link), to = UnixName(target);
    if (from.empty() || to.empty() || !StartProcess(L"/bin/sh -c \"ln -s '" + to + L"' '" + from + L"'\"")) return false;
    // The Unix child's process handle does not signal under Wine: the link is what is waited for.
    // A link to a file does not show as a reparse point there; it shows as its target.
    for (int i = 0; i < 600 && !FileExists(link); ++i) Sleep(50);
    return FileExists(link);
}

std::wstring UnixDrivePath(const std::wstring& path)
{
    std::wstring name = UnixName(path);
    for (wchar_t& c : name)
        if (c == L'/') c = L'\\';
    return name.empty() ? name : L"Z:" + name;
}

std::wstring UnixPathFromEnvironment(const wchar_t* variable)
{
    const DWORD needed = GetEnvironmentVariableW(variable, nullptr, 0);
    if (needed == 0) return std::wstring();
    std::vector<wchar_t> value(needed);
    const DWORD length = GetEnvironmentVariableW(variable, value.data(), needed);
    return length < needed ? std::wstring(value.data(), length) : std::wstring();
}

std::wstring WindowsPathFromEnvironment(const wchar_t* variable)
{
    std::wstring path = UnixPathFromEnvironment(variable);
    if (path.empty()) return path;
    path.insert(0, L"Z:");
    for (wchar_t& c : path)
        if (c == L'/') c = L'\\';
    return path;
}

TempFolder::TempFolder(const std::wstring& name)
{
    wchar_t temp[MAX_PATH];
    const DWORD length = GetTempPathW(MAX_PATH, temp);
    std::wstring base(temp, length < MAX_PATH ? length : 0);
    if (!base.empty() && base.back() == L'\\') base.pop_back();
    m_path = base + L"\\tarvelo-" + name + L"-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
             std::to_wstring(GetTickCount());
    RemoveTree(m_path);
    CreateDirectoryW(m_path.c_str(), nullptr);
}

TempFolder::~TempFolder() { RemoveTree(m_path); }

bool WriteWholeFile(const std::wstring& path, const std::string& bytes)
{
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == bytes.size();
}

bool ReadWholeFile(const std::wstring& path, std::string& bytes)
{
    bytes.clear();
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    char buffer[65536];
    DWORD read = 0;
    bool ok = true;
    while ((ok = ReadFile(file, buffer, sizeof(buffer), &read, nullptr) != FALSE) && read > 0)
        bytes.append(buffer, read);
    CloseHandle(file);
    return ok;
}

bool FileExists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

ScopedEnvironmentVariable::ScopedEnvironmentVariable(const wchar_t* name, const wchar_t* value)
    : m_name(name)
{
    const DWORD needed = GetEnvironmentVariableW(name, nullptr, 0);
    if (needed > 0) {
        std::vector<wchar_t> old(needed);
        const DWORD length = GetEnvironmentVariableW(name, old.data(), needed);
        m_old.assign(old.data(), length);
        m_hadOld = true;
    }
    SetEnvironmentVariableW(name, value);
}

ScopedEnvironmentVariable::~ScopedEnvironmentVariable()
{
    SetEnvironmentVariableW(m_name.c_str(), m_hadOld ? m_old.c_str() : nullptr);
}

ScopedCurrentDirectory::ScopedCurrentDirectory(const std::wstring& directory)
{
    wchar_t old[MAX_PATH];
    const DWORD length = GetCurrentDirectoryW(MAX_PATH, old);
    if (length > 0 && length < MAX_PATH) m_old.assign(old, length);
    m_changed = !m_old.empty() && SetCurrentDirectoryW(directory.c_str());
}

ScopedCurrentDirectory::~ScopedCurrentDirectory()
{
    if (m_changed) SetCurrentDirectoryW(m_old.c_str());
}

std::wstring SourceTreePath(const std::wstring& relative)
{
    return UnixTreePath(L"TARVELO_SOURCE_DIR", relative);
}

std::wstring BuildTreePath(const std::wstring& relative)
{
    return UnixTreePath(L"TARVELO_BUILD_DIR", relative);
}
