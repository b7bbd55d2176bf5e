#include "support/portable/signer_pins.h"

#include <cstring>

#include "support/portable/der.h"

namespace {

bool IsPinSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace

bool ParseSignerPins(const std::string& text, SignerPins* pins)
{
    pins->clear();
    size_t at = 0;
    while (at < text.size() && IsPinSpace(text[at])) ++at;
    if (at == text.size()) return true;
    SignerPins parsed;
    for (;;) {
        // One entry: white space, 64 hexadecimal digits, white space, then "," or the end.
        while (at < text.size() && IsPinSpace(text[at])) ++at;
        Sha256::Digest pin;
        if (!ParseDigestHex(text.substr(at, 64), &pin)) return false;
        parsed.push_back(pin);
        at += 64;
        while (at < text.size() && IsPinSpace(text[at])) ++at;
        if (at == text.size()) break;
        if (text[at++] != ',') return false;
    }
    pins->swap(parsed);
    return true;
}

bool FindSubjectPublicKeyInfo(const uint8_t* der, size_t size, size_t* offset, size_t* length)
{
    const uint8_t kSequence = 0x30, kInteger = 0x02, kVersion = 0xA0;
    DerItem certificate, tbs, item;
    if (!ReadDerItem(der, 0, size, &certificate) || certificate.tag != kSequence) return false;
    if (!ReadDerItem(der, certificate.contents, certificate.end, &tbs) || tbs.tag != kSequence) return false;
    // TBSCertificate: [0] version (absent in version 1), serialNumber, signature, issuer,
    // validity, subject, subjectPublicKeyInfo, ...
    size_t at = tbs.contents;
    if (!ReadDerItem(der, at, tbs.end, &item)) return false;
    if (item.tag == kVersion) {
        at = item.end;
        if (!ReadDerItem(der, at, tbs.end, &item)) return false;
    }
    if (item.tag != kInteger) return false;
    at = item.end;
    for (int sequences = 0; sequences < 4; ++sequences) {
        if (!ReadDerItem(der, at, tbs.end, &item) || item.tag != kSequence) return false;
        at = item.end;
    }
    if (!ReadDerItem(der, at, tbs.end, &item) || item.tag != kSequence) return false;
    *offset = at;
    *length = item.end - at;
    return true;
}

bool SignerPinOf(const uint8_t* der, size_t size, Sha256::Digest* pin)
{
    size_t offset = 0, length = 0;
    if (!FindSubjectPublicKeyInfo(der, size, &offset, &length)) return false;
    *pin = Sha256::Of(der + offset, length);
    return true;
}

bool IsPinned(const SignerPins& pins, const Sha256::Digest& pin)
{
    for (const Sha256::Digest& pinned : pins) {
        if (std::memcmp(pinned.data(), pin.data(), pin.size()) == 0) return true;
    }
    return false;
}
