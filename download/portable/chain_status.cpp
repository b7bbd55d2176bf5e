#include "download/portable/chain_status.h"

namespace {
// wincrypt.h's CERT_TRUST_* bits and winerror.h's codes, by value.
constexpr uint32_t kIsRevoked = 0x00000004;
constexpr uint32_t kRevocationStatusUnknown = 0x00000040;
constexpr uint32_t kIsOfflineRevocation = 0x01000000;

constexpr uint32_t kCertRevocationFailure = 0x800B010E;
constexpr uint32_t kCryptRevocationOffline = 0x80092013;
constexpr uint32_t kCryptNoRevocationCheck = 0x80092012;
}  // namespace

ChainVerdict JudgeChainStatus(uint32_t errorStatus)
{
    if (errorStatus == 0) return ChainVerdict::Trusted;
    if (errorStatus & kIsRevoked) return ChainVerdict::Refused;
    if ((errorStatus & ~(kRevocationStatusUnknown | kIsOfflineRevocation)) != 0) return ChainVerdict::Refused;
    return ChainVerdict::RevocationNotChecked;
}

bool IsRevocationNotChecked(uint32_t result)
{
    return result == kCertRevocationFailure || result == kCryptRevocationOffline || result == kCryptNoRevocationCheck;
}
