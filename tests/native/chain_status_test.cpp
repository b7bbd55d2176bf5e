#include <gtest/gtest.h>

#include "download/portable/chain_status.h"

namespace {

// CERT_TRUST_* error bits of a chain's status, as CryptoAPI sets them.
constexpr uint32_t kNotTimeValid = 0x1, kRevoked = 0x4, kNotSignatureValid = 0x8, kNotValidForUsage = 0x10,
                   kUntrustedRoot = 0x20, kRevocationUnknown = 0x40, kPartialChain = 0x10000,
                   kOfflineRevocation = 0x01000000;

TEST(ChainStatus, RevocationThatCouldNotBeCheckedPassesARevokedCertificateDoesNot)
{
    EXPECT_EQ(JudgeChainStatus(0), ChainVerdict::Trusted);
    // What a chain built without a way to any revocation server reads (Wine 8 gives the
    // first for certificates without a distribution point; Windows the others offline).
    for (uint32_t status : {kRevocationUnknown | kOfflineRevocation, kRevocationUnknown, kOfflineRevocation})
        EXPECT_EQ(JudgeChainStatus(status), ChainVerdict::RevocationNotChecked) << std::hex << status;
    for (uint32_t status : {kRevoked, kRevoked | kRevocationUnknown, kRevoked | kOfflineRevocation | kRevocationUnknown})
        EXPECT_EQ(JudgeChainStatus(status), ChainVerdict::Refused) << std::hex << status;
    // Any other error refuses, with or without a revocation that could not be checked.
    for (uint32_t other : {kNotTimeValid, kNotSignatureValid, kNotValidForUsage, kUntrustedRoot, kPartialChain, 0x80000000u}) {
        EXPECT_EQ(JudgeChainStatus(other), ChainVerdict::Refused) << std::hex << other;
        EXPECT_EQ(JudgeChainStatus(other | kRevocationUnknown | kOfflineRevocation), ChainVerdict::Refused)
            << std::hex << other;
    }
}

TEST(ChainStatus, OnlyTheResultsThatSayRevocationWasNotCheckedAreRetried)
{
    for (uint32_t result : {0x800B010Eu /* CERT_E_REVOCATION_FAILURE */, 0x80092013u /* CRYPT_E_REVOCATION_OFFLINE */,
                            0x80092012u /* CRYPT_E_NO_REVOCATION_CHECK */})
        EXPECT_TRUE(IsRevocationNotChecked(result)) << std::hex << result;
    for (uint32_t result : {0u, 0x800B010Cu /* CERT_E_REVOKED */, 0x80092010u /* CRYPT_E_REVOKED */,
                            0x800B0109u /* CERT_E_UNTRUSTEDROOT */, 0x800B0100u /* TRUST_E_NOSIGNATURE */,
                            0x80096010u /* TRUST_E_BAD_DIGEST */})
        EXPECT_FALSE(IsRevocationNotChecked(result)) << std::hex << result;
}

}  // namespace
