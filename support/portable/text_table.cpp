#include "support/portable/text_table.h"

namespace {
bool IsTrimmed(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n'; }
}  // namespace

std::wstring TrimTextTableSpace(const std::wstring& text)
{
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && IsTrimmed(text[begin])) ++begin;
    while (end > begin && IsTrimmed(text[end - 1])) --end;
    return text.substr(begin, end - begin);
}

std::map<std::wstring, std::wstring> ParseTextTable(const unsigned char* data, size_t size)
{
    std::wstring text;
    text.reserve(size / 2);
    for (size_t i = 0; i + 1 < size; i += 2)
        text.push_back(static_cast<wchar_t>(data[i] | (static_cast<unsigned>(data[i + 1]) << 8)));

    std::map<std::wstring, std::wstring> entries;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find(L';', pos);
        const bool last = end == std::wstring::npos;
        if (last) end = text.size();
        const std::wstring entry = text.substr(pos, end - pos);
        const size_t equals = entry.find(L'=');
        std::wstring key, value;
        if (equals == std::wstring::npos) {
            key = TrimTextTableSpace(entry);
            value = key;
        } else {
            key = TrimTextTableSpace(entry.substr(0, equals));
            value = TrimTextTableSpace(entry.substr(equals + 1));
        }
        entries.emplace(std::move(key), std::move(value));  // keeps an earlier entry of the key
        if (last) break;
        pos = end + 1;
    }
    return entries;
}
