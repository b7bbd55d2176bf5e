#include "download/portable/failure_text.h"

// Built by appending to one string: the shipped program pays for every string member it uses.
namespace {
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
    static const char kHex[] = "0123456789abcdef";
    std::string line("Secure failure flags 0x");
    for (int shift = 28; shift >= 0; shift -= 4) line += kHex[(flags >> shift) & 0xFu];
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
