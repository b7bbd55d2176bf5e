#include "download/portable/resume_record.h"

#include <cstddef>
#include <cstring>

namespace {

const char kFirstLine[] = "Tarvelo download record 1\r\n";
const char* const kNames[] = {"address ", "length ", "validator ", "written "};
const char kHexDigits[] = "0123456789ABCDEF";
constexpr size_t kCountDigits = 10;

bool IsHeaderSafe(const std::wstring& text)
{
    if (text.empty() || text.size() > 512) return false;
    for (wchar_t c : text)
        if (c < 0x20 || c > 0x7E) return false;
    return true;
}

void AppendEscaped(std::string& out, const std::wstring& text)
{
    for (wchar_t wide : text) {
        const unsigned c = static_cast<unsigned>(wide) & 0xFFFF;
        if (c >= 0x20 && c <= 0x7E && c != '\\') {
            out += static_cast<char>(c);
            continue;
        }
        const char escaped[6] = {'\\', 'u', kHexDigits[c >> 12], kHexDigits[(c >> 8) & 0xF],
                                 kHexDigits[(c >> 4) & 0xF], kHexDigits[c & 0xF]};
        out.append(escaped, sizeof escaped);
    }
}

void AppendDecimal(std::string& out, uint32_t value, size_t width)
{
    char digits[kCountDigits];
    size_t count = 0;
    do {
        digits[count++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0 && count < kCountDigits);
    for (size_t i = count; i < width; ++i) out += '0';
    while (count > 0) out += digits[--count];
}

int HexValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// [text, end) unescaped into `out`; false for anything FormatResumeRecord does not write.
bool Unescape(const char* text, const char* end, std::wstring* out)
{
    out->clear();
    while (text < end) {
        const char c = *text++;
        if (c < 0x20 || c > 0x7E) return false;
        if (c != '\\') {
            *out += static_cast<wchar_t>(c);
            continue;
        }
        if (end - text < 5 || *text++ != 'u') return false;
        unsigned value = 0;
        for (int i = 0; i < 4; ++i) {
            const int digit = HexValue(*text++);
            if (digit < 0) return false;
            value = value * 16 + static_cast<unsigned>(digit);
        }
        *out += static_cast<wchar_t>(value);
    }
    return true;
}

bool ParseDecimal(const char* text, const char* end, uint32_t* value)
{
    if (text == end || end - text > static_cast<ptrdiff_t>(kCountDigits)) return false;
    uint64_t number = 0;
    for (; text < end; ++text) {
        if (*text < '0' || *text > '9') return false;
        number = number * 10 + static_cast<uint64_t>(*text - '0');
    }
    if (number > 0x7FFFFFFFu) return false;
    *value = static_cast<uint32_t>(number);
    return true;
}

}  // namespace

std::string FormatResumeRecord(const ResumeRecord& record)
{
    std::string out = kFirstLine;
    out += kNames[0];
    AppendEscaped(out, record.address);
    out += "\r\n";
    out += kNames[1];
    AppendDecimal(out, record.totalLength, 1);
    out += "\r\n";
    out += kNames[2];
    AppendEscaped(out, record.validator);
    out += "\r\n";
    out += kNames[3];
    AppendDecimal(out, record.written, kCountDigits);
    out += "\r\n";
    return out;
}

bool ParseResumeRecord(const std::string& bytes, ResumeRecord* record)
{
    const size_t firstLength = sizeof kFirstLine - 1;
    if (bytes.size() > 8192 || bytes.compare(0, firstLength, kFirstLine) != 0) return false;
    // The values of the four lines, in their order, each "<name> <value>\r\n".
    const char* values[4][2] = {};
    const char* at = bytes.data() + firstLength;
    const char* const end = bytes.data() + bytes.size();
    for (int line = 0; line < 4; ++line) {
        const size_t nameLength = std::strlen(kNames[line]);
        if (static_cast<size_t>(end - at) < nameLength || std::memcmp(at, kNames[line], nameLength) != 0) return false;
        at += nameLength;
        const char* lineEnd = at;
        while (lineEnd + 1 < end && !(lineEnd[0] == '\r' && lineEnd[1] == '\n')) ++lineEnd;
        if (lineEnd + 1 >= end) return false;
        values[line][0] = at;
        values[line][1] = lineEnd;
        at = lineEnd + 2;
    }
    ResumeRecord parsed;
    if (at != end || values[3][1] - values[3][0] != static_cast<ptrdiff_t>(kCountDigits) ||
        !Unescape(values[0][0], values[0][1], &parsed.address) ||
        !ParseDecimal(values[1][0], values[1][1], &parsed.totalLength) ||
        !Unescape(values[2][0], values[2][1], &parsed.validator) ||
        !ParseDecimal(values[3][0], values[3][1], &parsed.written))
        return false;
    if (parsed.totalLength == 0 || parsed.written > parsed.totalLength || parsed.address.empty() ||
        !IsHeaderSafe(parsed.validator))
        return false;
    *record = parsed;
    return true;
}

std::wstring ChooseValidator(const std::wstring& etag, const std::wstring& lastModified)
{
    const bool weak = etag.size() >= 2 && (etag[0] == L'W' || etag[0] == L'w') && etag[1] == L'/';
    if (!weak && etag.size() >= 2 && etag.front() == L'"' && etag.back() == L'"' && IsHeaderSafe(etag)) return etag;
    if (IsHeaderSafe(lastModified)) return lastModified;
    return std::wstring();
}

std::wstring MakeIfRangeHeader(const std::wstring& validator)
{
    return validator.empty() ? std::wstring() : L"If-Range: " + validator + L"\r\n";
}

std::wstring ResumeRecordPath(const std::wstring& localPath) { return localPath + L".resume"; }
