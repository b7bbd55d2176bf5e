#include "download/portable/resume_record.h"

#include <cstddef>

namespace {

const char kFirstLine[] = "Tarvelo download record 1";
const char kHexDigits[] = "0123456789ABCDEF";

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
        const uint32_t c = static_cast<uint32_t>(wide) & 0xFFFF;
        if (c >= 0x20 && c <= 0x7E && c != '\\') {
            out += static_cast<char>(c);
        } else {
            out += "\\u";
            for (int shift = 12; shift >= 0; shift -= 4) out += kHexDigits[(c >> shift) & 0xF];
        }
    }
}

int HexValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool Unescape(const std::string& text, std::wstring* out)
{
    out->clear();
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c < 0x20 || c > 0x7E) return false;
        if (c != '\\') {
            *out += static_cast<wchar_t>(c);
            continue;
        }
        if (text.size() - i < 6 || text[i + 1] != 'u') return false;
        uint32_t value = 0;
        for (size_t k = i + 2; k < i + 6; ++k) {
            const int digit = HexValue(text[k]);
            if (digit < 0) return false;
            value = value * 16 + static_cast<uint32_t>(digit);
        }
        *out += static_cast<wchar_t>(value);
        i += 5;
    }
    return true;
}

std::string Decimal(uint32_t value, size_t width)
{
    std::string digits;
    do {
        digits.insert(digits.begin(), static_cast<char>('0' + value % 10));
        value /= 10;
    } while (value != 0);
    while (digits.size() < width) digits.insert(digits.begin(), '0');
    return digits;
}

bool ParseDecimal(const std::string& text, uint32_t* value)
{
    if (text.empty() || text.size() > 10) return false;
    uint64_t number = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        number = number * 10 + static_cast<uint64_t>(c - '0');
    }
    if (number > 0x7FFFFFFFu) return false;
    *value = static_cast<uint32_t>(number);
    return true;
}

// The value of the line "<name> <value>" at `at`, which moves past its CR LF.
bool TakeLine(const std::string& bytes, size_t* at, const char* name, std::string* value)
{
    const size_t end = bytes.find("\r\n", *at);
    if (end == std::string::npos) return false;
    const std::string line = bytes.substr(*at, end - *at);
    *at = end + 2;
    const std::string prefix = std::string(name) + " ";
    if (line.compare(0, prefix.size(), prefix) != 0) return false;
    *value = line.substr(prefix.size());
    return true;
}

}  // namespace

std::string FormatResumeRecord(const ResumeRecord& record)
{
    std::string out = std::string(kFirstLine) + "\r\naddress ";
    AppendEscaped(out, record.address);
    out += "\r\nlength " + Decimal(record.totalLength, 1) + "\r\nvalidator ";
    AppendEscaped(out, record.validator);
    out += "\r\nwritten " + Decimal(record.written, 10) + "\r\n";
    return out;
}

bool ParseResumeRecord(const std::string& bytes, ResumeRecord* record)
{
    if (bytes.size() > 8192) return false;
    const std::string first = std::string(kFirstLine) + "\r\n";
    if (bytes.compare(0, first.size(), first) != 0) return false;
    size_t at = first.size();
    std::string address, length, validator, written;
    ResumeRecord parsed;
    if (!TakeLine(bytes, &at, "address", &address) || !TakeLine(bytes, &at, "length", &length) ||
        !TakeLine(bytes, &at, "validator", &validator) || !TakeLine(bytes, &at, "written", &written) ||
        at != bytes.size())
        return false;
    if (written.size() != 10 || !ParseDecimal(length, &parsed.totalLength) ||
        !ParseDecimal(written, &parsed.written) || !Unescape(address, &parsed.address) ||
        !Unescape(validator, &parsed.validator))
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
