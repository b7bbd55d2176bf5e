#include "download/portable/failure_text.h"

std::string CallFailureLine(const char* call, uint32_t error)
{
    return std::string(call ? call : "?") + " failed with error " + std::to_string(error);
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
    std::string line = "Secure failure flags 0x";
    for (int shift = 28; shift >= 0; shift -= 4) line.push_back(kHex[(flags >> shift) & 0xFu]);
    std::string meanings;
    for (const auto& known : kFlags) {
        if (!(flags & known.flag)) continue;
        if (!meanings.empty()) meanings += ", ";
        meanings += known.meaning;
    }
    if (!meanings.empty()) line += " (" + meanings + ")";
    return line;
}
