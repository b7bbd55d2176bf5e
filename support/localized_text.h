#pragma once
#include <map>
#include <string>

// The key-to-text table loaded once per process from "Resource-<language>.txt" (UTF-16LE).
class LocalizedText {
public:
    // The first call fixes the language; later calls ignore their argument.
    static LocalizedText* Instance(std::wstring language);
    // Empty text for a missing key; the key is trimmed of " \t\r\n" first.
    std::wstring GetText(std::wstring key) const;
    std::wstring GetLanguage() const;

private:
    LocalizedText() = default;
    std::wstring m_language;
    std::map<std::wstring, std::wstring> m_entries;
};

// The text of `key` in the run's language (the table's first call fixed it).
std::wstring TextOf(const wchar_t* key);
