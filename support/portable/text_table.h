#pragma once
#include <cstddef>
#include <map>
#include <string>

// The characters trimmed from both ends of keys and texts: space, tab, CR and LF.
std::wstring TrimTextTableSpace(const std::wstring& text);

// Parses the bytes of a text file (UTF-16LE, no byte-order mark handling, an odd last byte
// ignored) into its key-to-text map. Entries are "key=text" separated by ";"; key and text are
// trimmed; an entry without "=" maps its content to itself; the first occurrence of a key wins.
// Each 16-bit unit becomes one wchar_t, whatever the width of wchar_t.
std::map<std::wstring, std::wstring> ParseTextTable(const unsigned char* data, size_t size);
