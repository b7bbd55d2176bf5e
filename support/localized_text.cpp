#include "support/localized_text.h"

#include <windows.h>

#include <vector>

#include "support/carried_inputs.h"
#include "support/portable/text_table.h"
#include "support/win32_handle.h"

namespace {

// Guards the creation of the table; lookups need no lock because the map never changes after.
StaticCriticalSection g_textLock;
LocalizedText* g_table = nullptr;

const wchar_t kFallbackLanguage[] = L"en-GB";

// The current directory, or empty when it does not fit the platform's path buffer.
std::wstring CurrentDirectory()
{
    wchar_t buffer[MAX_PATH];
    const DWORD length = GetCurrentDirectoryW(MAX_PATH, buffer);
    if (length == 0 || length >= MAX_PATH) return std::wstring();
    return std::wstring(buffer, length);
}

// Opens a text file for reading, or gives no handle when the path is empty or too long.
UniqueHandle OpenTextFile(const std::wstring& path)
{
    if (path.empty() || path.size() >= MAX_PATH) return UniqueHandle();
    return UniqueHandle(CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
}

std::vector<unsigned char> ReadWhole(const UniqueHandle& file)
{
    std::vector<unsigned char> bytes;
    if (!file) return bytes;
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.Get(), &size) || size.QuadPart <= 0 || size.QuadPart > 0x7FFFFFFF)
        return bytes;
    bytes.resize(static_cast<size_t>(size.QuadPart));
    DWORD read = 0;
    if (!ReadFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr))
        read = 0;
    bytes.resize(read);
    return bytes;
}

std::wstring TextFilePath(const std::wstring& directory, const std::wstring& language)
{
    if (directory.empty()) return std::wstring();
    return directory + L"\\Resource-" + language + L".txt";
}

// The bytes of the table of `language`: the copy a release exe carries, else the file in the
// current directory. False when there is none.
bool ReadTextFile(const std::wstring& language, std::vector<unsigned char>* bytes)
{
    if (CarriesInputs()) return ReadCarriedInput(L"Resource-" + language + L".txt", bytes);
    UniqueHandle file = OpenTextFile(TextFilePath(CurrentDirectory(), language));
    if (!file) return false;
    *bytes = ReadWhole(file);
    return true;
}

}  // namespace

LocalizedText* LocalizedText::Instance(std::wstring language)
{
    StaticCriticalSectionLock lock(g_textLock);
    if (g_table) return g_table;
    try {
        LocalizedText* table = new LocalizedText();
        table->m_language = language;
        std::vector<unsigned char> bytes;
        if (!ReadTextFile(language, &bytes)) {
            table->m_language = kFallbackLanguage;
            ReadTextFile(kFallbackLanguage, &bytes);
        }
        try {
            table->m_entries = ParseTextTable(bytes.data(), bytes.size());
        } catch (...) {
            table->m_entries.clear();  // an empty table: every lookup gives the empty text
        }
        g_table = table;
    } catch (...) {
        return nullptr;  // out of memory before a table existed
    }
    return g_table;
}

std::wstring LocalizedText::GetText(std::wstring key) const
{
    const auto found = m_entries.find(TrimTextTableSpace(key));
    return found == m_entries.end() ? std::wstring() : found->second;
}

std::wstring LocalizedText::GetLanguage() const { return m_language; }

std::wstring TextOf(const wchar_t* key) { return LocalizedText::Instance(L"en-GB")->GetText(key); }
