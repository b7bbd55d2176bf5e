#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

#include "support/portable/signer_pins.h"

// Whether a file carries a valid Authenticode signature of one of the publishers it must come
// from. The packages are started with administrator rights: a digest pins one build, a signer
// pin every build a publisher signs.

enum class SignatureVerdict {
    Trusted,     // a valid signature, and a certificate of its signer's chain holds a pinned key
    Failed,      // no valid signature, or its chain has an error; `code` says what
    NotTrusted,  // a valid signature and chain, but no certificate of the chain is pinned
};

// Which step reached the verdict.
enum class SignatureStep {
    Table,  // the certificate table, which must hold one signature and nothing else
    Trust,  // WinVerifyTrust (Authenticode, image hash, the platform's own chain policy)
    Chain,  // our reading of the signer's chain: no error but that revocation could not be checked
    Pins,   // the pinned keys
};

struct SignatureResult {
    SignatureVerdict verdict = SignatureVerdict::Failed;
    SignatureStep step = SignatureStep::Trust;
    // Failed at Trust: WinVerifyTrust's result (an HRESULT such as 0x800B0100, no signature)
    // or, when wintrust could not be loaded, that load's error as an HRESULT. Failed at Chain:
    // the chain's CERT_TRUST_* error bits (0x20 untrusted root, 0x10000 partial chain, ...),
    // or 0x80096002 when the signer has no chain at all. 0 otherwise.
    uint32_t code = 0;
    // Which signature decided: 0 the primary one, 1 and up the nested ones in their order. A
    // file passes on any one of its valid signatures; when none passes, the primary's verdict
    // is the file's.
    unsigned signature = 0;
    // Trusted although the revocation of its chain could not be checked (no revocation server
    // reachable), as Windows' own Authenticode policy accepts; a revoked certificate fails.
    bool revocationNotChecked = false;
};

// Checks the signature of the file open as `file` (read through that handle; `path` only names
// it), against `pins`, which must not be empty. wintrust is loaded from the system folder.
SignatureResult CheckSignature(HANDLE file, const std::wstring& path, const SignerPins& pins);
