#include "download/signature_check.h"

#include <wincrypt.h>
#include <wintrust.h>

#include "support/system_library.h"

namespace {

// WINTRUST_ACTION_GENERIC_VERIFY_V2 (softpub.h): Authenticode.
const GUID kGenericVerifyV2 = {0x00aac56b, 0xcd44, 0x11d0, {0x8c, 0xc2, 0x00, 0xc0, 0x4f, 0xc2, 0x95, 0xee}};

// One WinVerifyTrust verification of a file through its open handle, whose state (the signer
// and its chain) is kept for reading until the object ends.
class TrustVerification {
public:
    TrustVerification(HANDLE file, const std::wstring& path, DWORD providerFlags)
    {
        m_file.cbStruct = sizeof(m_file);
        m_file.pcwszFilePath = path.c_str();
        m_file.hFile = file;
        m_data.cbStruct = sizeof(m_data);
        m_data.dwUIChoice = WTD_UI_NONE;
        // Revocation of every certificate but the root: a root is not revoked through a list
        // that it signs itself.
        m_data.fdwRevocationChecks = WTD_REVOKE_WHOLECHAIN;
        m_data.dwProvFlags = WTD_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT | providerFlags;
        m_data.dwUnionChoice = WTD_CHOICE_FILE;
        m_data.pFile = &m_file;
        m_data.dwStateAction = WTD_STATEACTION_VERIFY;
        GUID action = kGenericVerifyV2;
        m_result = WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &m_data);
    }
    ~TrustVerification()
    {
        m_data.dwStateAction = WTD_STATEACTION_CLOSE;
        GUID action = kGenericVerifyV2;
        WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &m_data);
    }
    TrustVerification(const TrustVerification&) = delete;
    TrustVerification& operator=(const TrustVerification&) = delete;

    LONG Result() const { return m_result; }

    // The chain of the first signer, as WinVerifyTrust built it; nullptr when there is none.
    PCCERT_CHAIN_CONTEXT SignerChain() const
    {
        CRYPT_PROVIDER_DATA* provider = WTHelperProvDataFromStateData(m_data.hWVTStateData);
        if (!provider) return nullptr;
        CRYPT_PROVIDER_SGNR* signer = WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0);
        return signer ? signer->pChainContext : nullptr;
    }

private:
    WINTRUST_FILE_INFO m_file{};
    WINTRUST_DATA m_data{};
    LONG m_result = TRUST_E_FAIL;
};

// Revocation lists that could not be fetched: the machine may reach the download server (through
// a proxy, say) but not the authority's list server.
bool RevocationUnreachable(LONG result)
{
    return result == static_cast<LONG>(CERT_E_REVOCATION_FAILURE) ||
           result == static_cast<LONG>(CRYPT_E_REVOCATION_OFFLINE);
}

bool ChainHoldsPin(PCCERT_CHAIN_CONTEXT chain, const SignerPins& pins)
{
    for (DWORD c = 0; c < chain->cChain; ++c) {
        const CERT_SIMPLE_CHAIN* simple = chain->rgpChain[c];
        for (DWORD e = 0; simple && e < simple->cElement; ++e) {
            const CERT_CHAIN_ELEMENT* element = simple->rgpElement[e];
            const CERT_CONTEXT* certificate = element ? element->pCertContext : nullptr;
            Sha256::Digest pin;
            if (certificate &&
                SignerPinOf(certificate->pbCertEncoded, certificate->cbCertEncoded, &pin) &&
                IsPinned(pins, pin))
                return true;
        }
    }
    return false;
}

SignatureResult Verdict(SignatureVerdict verdict, SignatureStep step, uint32_t code)
{
    SignatureResult result;
    result.verdict = verdict;
    result.step = step;
    result.code = code;
    return result;
}

SignatureResult CheckVerified(const TrustVerification& verification, const SignerPins& pins)
{
    if (verification.Result() != 0)
        return Verdict(SignatureVerdict::Failed, SignatureStep::Trust, static_cast<uint32_t>(verification.Result()));
    // WinVerifyTrust may accept a signature without having judged its chain (Wine skips the
    // chain policy for certificates signed with SHA-256), so the chain's own status decides.
    const PCCERT_CHAIN_CONTEXT chain = verification.SignerChain();
    if (!chain || chain->cChain == 0)
        return Verdict(SignatureVerdict::Failed, SignatureStep::Chain, static_cast<uint32_t>(TRUST_E_NO_SIGNER_CERT));
    if (chain->TrustStatus.dwErrorStatus != CERT_TRUST_NO_ERROR)
        return Verdict(SignatureVerdict::Failed, SignatureStep::Chain, chain->TrustStatus.dwErrorStatus);
    if (!ChainHoldsPin(chain, pins)) return Verdict(SignatureVerdict::NotTrusted, SignatureStep::Pins, 0);
    return Verdict(SignatureVerdict::Trusted, SignatureStep::Pins, 0);
}

}  // namespace

SignatureResult CheckSignature(HANDLE file, const std::wstring& path, const SignerPins& pins)
{
    // Loaded by full path before its first call: the delay-load by name then finds it loaded,
    // where a search that could not be restricted would look beside the exe first. Its own
    // imports are looked for in the system folder. It stays loaded for the rest of the run.
    if (pins.empty()) return Verdict(SignatureVerdict::NotTrusted, SignatureStep::Pins, 0);
    if (!LoadSystemLibrary(L"wintrust.dll")) {
        const DWORD error = GetLastError();
        return Verdict(SignatureVerdict::Failed, SignatureStep::Trust,
                       static_cast<uint32_t>(error ? HRESULT_FROM_WIN32(error) : TRUST_E_SYSTEM_ERROR));
    }
    {
        TrustVerification online(file, path, 0);
        if (!RevocationUnreachable(online.Result())) return CheckVerified(online, pins);
    }
    TrustVerification cached(file, path, WTD_CACHE_ONLY_URL_RETRIEVAL);
    return CheckVerified(cached, pins);
}
