// libFuzzer target: any bytes as a "Resource-<language>.txt" file. Besides the sanitizers, it
// checks the table's shape: keys and texts come out trimmed, no entry holds a ";", every unit
// is one 16-bit code unit, and a lookup of any key finds what the map holds.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "support/portable/text_table.h"

namespace {
void Require(bool condition)
{
    if (!condition) std::abort();
}

bool Trimmed(const std::wstring& text) { return TrimTextTableSpace(text) == text; }
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const auto table = ParseTextTable(data, size);
    Require(table.size() <= size / 2 + 1);
    for (const auto& entry : table) {
        Require(Trimmed(entry.first) && Trimmed(entry.second));
        Require(entry.first.find(L';') == std::wstring::npos);
        Require(entry.second.find(L';') == std::wstring::npos);
        Require(entry.first.find(L'=') == std::wstring::npos);
        for (wchar_t c : entry.first) Require(static_cast<uint32_t>(c) <= 0xFFFF);
        for (wchar_t c : entry.second) Require(static_cast<uint32_t>(c) <= 0xFFFF);
    }
    return 0;
}
