#pragma once
#include <cstdint>

// How a signer's certificate chain is judged, as Windows' own Authenticode policy judges it: a
// chain whose revocation could not be checked (no revocation server reachable, a list that
// could not be read) is still a chain, since the machine may reach our download server through
// a proxy that CryptoAPI does not use; a revoked certificate, or any other error, is not.

enum class ChainVerdict {
    Trusted,               // no error at all
    RevocationNotChecked,  // no error but that revocation could not be checked
    Refused,               // revoked, or any other error (an untrusted root, a broken chain, ...)
};

// From the chain's CERT_TRUST_* error bits (CERT_CHAIN_CONTEXT's TrustStatus.dwErrorStatus).
ChainVerdict JudgeChainStatus(uint32_t errorStatus);

// True for the results of WinVerifyTrust that say only that revocation could not be checked
// (CERT_E_REVOCATION_FAILURE, CRYPT_E_REVOCATION_OFFLINE, CRYPT_E_NO_REVOCATION_CHECK), not that
// anything was wrong. A revoked certificate (CERT_E_REVOKED) is not among them.
bool IsRevocationNotChecked(uint32_t result);
