#include "download/portable/failure_text.h"

// Built by appending to one string: the shipped program pays for every string member it uses.
namespace {
// "0x" and eight lower-case hexadecimal digits, into a buffer of at least 10 characters.
template <typename Char>
void WriteHex(Char* digits, uint32_t value)
{
    static const char kHex[] = "0123456789abcdef";
    digits[0] = '0';
    digits[1] = 'x';
    for (int i = 0; i < 8; ++i) digits[2 + i] = static_cast<Char>(kHex[(value >> (28 - 4 * i)) & 0xFu]);
}

void AppendDecimal(std::string& line, uint32_t value)
{
    char digits[10];
    int count = 0;
    do {
        digits[count++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    while (count > 0) line += digits[--count];
}
}  // namespace

std::string Decimal(uint32_t value)
{
    std::string digits;
    AppendDecimal(digits, value);
    return digits;
}

std::string ExitCodeLine(const char* text, uint32_t code)
{
    char hex[10];
    WriteHex(hex, code);
    std::string line(text);
    line += " (exit code ";
    line.append(hex, sizeof(hex));
    line += ')';
    return line;
}

std::string CallFailureLine(const char* call, uint32_t error)
{
    std::string line(call ? call : "?");
    line += " failed with error ";
    AppendDecimal(line, error);
    return line;
}

std::string SecureFailureLine(uint32_t flags)
{
    // The WINHTTP_CALLBACK_STATUS_FLAG_* values.
    static const struct {
        uint32_t flag;
        const char* meaning;
    } kFlags[] = {
        {0x00000001u, "revocation could not be checked"},
        {0x00000002u, "certificate invalid"},
        {0x00000004u, "certificate revoked"},
        {0x00000008u, "certificate authority not trusted"},
        {0x00000010u, "certificate issued for another host"},
        {0x00000020u, "certificate expired or not yet valid"},
        {0x80000000u, "secure channel error"},
    };
    char hex[10];
    WriteHex(hex, flags);
    std::string line("Secure failure flags ");
    line.append(hex, sizeof hex);
    bool first = true;
    for (const auto& known : kFlags) {
        if (!(flags & known.flag)) continue;
        line += first ? " (" : ", ";
        line += known.meaning;
        first = false;
    }
    if (!first) line += ')';
    return line;
}

std::wstring WideHex(uint32_t code)
{
    wchar_t hex[10];
    WriteHex(hex, code);
    return std::wstring(hex, 10);
}
