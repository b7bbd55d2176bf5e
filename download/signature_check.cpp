#include "download/signature_check.h"

#include <wincrypt.h>
#include <wintrust.h>

#include <cstddef>
#include <cstring>
#include <vector>

#include "download/portable/chain_status.h"
#include "download/portable/signature_area.h"
#include "download/portable/windows_program.h"
#include "support/system_library.h"
#include "support/win32_handle.h"

namespace {

// WINTRUST_ACTION_GENERIC_VERIFY_V2 (softpub.h): Authenticode.
const GUID kGenericVerifyV2 = {0x00aac56b, 0xcd44, 0x11d0, {0x8c, 0xc2, 0x00, 0xc0, 0x4f, 0xc2, 0x95, 0xee}};

// WINTRUST_SIGNATURE_SETTINGS and the member of WINTRUST_DATA that points to it, which
// Windows 8 added and MinGW's headers lack. Older systems read WINTRUST_DATA only up to
// dwUIContext, so they verify the primary signature and leave the settings as they were.
struct SignatureSettings {
    DWORD cbStruct;
    DWORD dwIndex;
    DWORD dwFlags;
    DWORD cSecondarySigs;
    DWORD dwVerifiedSigIndex;
    void* pCryptoPolicy;
};
struct TrustDataWithSettings {
    WINTRUST_DATA data;
    SignatureSettings* pSignatureSettings;
};
static_assert(offsetof(TrustDataWithSettings, pSignatureSettings) == sizeof(WINTRUST_DATA),
              "pSignatureSettings follows dwUIContext");
constexpr DWORD kVerifySpecific = 0x1;      // WSS_VERIFY_SPECIFIC
constexpr DWORD kGetSecondaryCount = 0x2;   // WSS_GET_SECONDARY_SIG_COUNT
constexpr DWORD kNoIndex = 0xFFFFFFFF;      // what no Windows writes into dwVerifiedSigIndex
// No file needs more: signtool appends one nested signature per algorithm.
constexpr DWORD kMaxSecondarySignatures = 16;

const char kNestedSignature[] = "1.3.6.1.4.1.311.2.4.1";  // szOID_NESTED_SIGNATURE
constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

// One WinVerifyTrust verification of one signature of a file, through its open handle, whose
// state (the signer and its chain) is kept for reading until the object ends.
class TrustVerification {
public:
    TrustVerification(HANDLE file, const std::wstring& path, bool checkRevocation, DWORD index)
    {
        m_file.cbStruct = sizeof(m_file);
        m_file.pcwszFilePath = path.c_str();
        m_file.hFile = file;
        m_settings.cbStruct = sizeof(m_settings);
        m_settings.dwIndex = index;
        m_settings.dwFlags = kVerifySpecific | kGetSecondaryCount;
        m_settings.dwVerifiedSigIndex = kNoIndex;
        WINTRUST_DATA& data = m_trust.data;
        data.cbStruct = sizeof(m_trust);
        data.dwUIChoice = WTD_UI_NONE;
        if (checkRevocation) {
            // Revocation of every certificate but the root: a root is not revoked through a
            // list that it signs itself.
            data.fdwRevocationChecks = WTD_REVOKE_WHOLECHAIN;
            data.dwProvFlags = WTD_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT;
        } else {
            data.fdwRevocationChecks = WTD_REVOKE_NONE;
            data.dwProvFlags = WTD_REVOCATION_CHECK_NONE;
        }
        data.dwUnionChoice = WTD_CHOICE_FILE;
        data.pFile = &m_file;
        data.dwStateAction = WTD_STATEACTION_VERIFY;
        m_trust.pSignatureSettings = &m_settings;
        GUID action = kGenericVerifyV2;
        m_result = WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    }
    ~TrustVerification()
    {
        m_trust.data.dwStateAction = WTD_STATEACTION_CLOSE;
        GUID action = kGenericVerifyV2;
        WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &m_trust.data);
    }
    TrustVerification(const TrustVerification&) = delete;
    TrustVerification& operator=(const TrustVerification&) = delete;

    LONG Result() const { return m_result; }
    // The index of the signature verified, where Windows can verify any one (8 and later);
    // kNoIndex where it verifies the primary signature only.
    DWORD VerifiedIndex() const { return m_settings.dwVerifiedSigIndex; }
    DWORD SecondaryCount() const { return m_settings.cSecondarySigs; }

    // The chain of the signer, as WinVerifyTrust built it; nullptr when there is none.
    PCCERT_CHAIN_CONTEXT SignerChain() const
    {
        CRYPT_PROVIDER_DATA* provider = WTHelperProvDataFromStateData(m_trust.data.hWVTStateData);
        if (!provider) return nullptr;
        CRYPT_PROVIDER_SGNR* signer = WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0);
        return signer ? signer->pChainContext : nullptr;
    }

private:
    WINTRUST_FILE_INFO m_file{};
    SignatureSettings m_settings{};
    TrustDataWithSettings m_trust{};
    LONG m_result = TRUST_E_FAIL;
};

struct CryptMsgTraits {
    static bool IsValid(HCRYPTMSG message) { return message != nullptr; }
    static void Close(HCRYPTMSG message) { CryptMsgClose(message); }
};
struct CertStoreTraits {
    static bool IsValid(HCERTSTORE store) { return store != nullptr; }
    static void Close(HCERTSTORE store) { CertCloseStore(store, 0); }
};
struct CertificateTraits {
    static bool IsValid(PCCERT_CONTEXT certificate) { return certificate != nullptr; }
    static void Close(PCCERT_CONTEXT certificate) { CertFreeCertificateContext(certificate); }
};
struct ChainTraits {
    static bool IsValid(PCCERT_CHAIN_CONTEXT chain) { return chain != nullptr; }
    static void Close(PCCERT_CHAIN_CONTEXT chain) { CertFreeCertificateChain(chain); }
};
using UniqueCryptMsg = UniqueOwner<HCRYPTMSG, CryptMsgTraits>;
using UniqueCertStore = UniqueOwner<HCERTSTORE, CertStoreTraits>;
using UniqueCertificate = UniqueOwner<PCCERT_CONTEXT, CertificateTraits>;
using UniqueChain = UniqueOwner<PCCERT_CHAIN_CONTEXT, ChainTraits>;

SignatureResult Verdict(SignatureVerdict verdict, SignatureStep step, uint32_t code)
{
    SignatureResult result;
    result.verdict = verdict;
    result.step = step;
    result.code = code;
    return result;
}

SignatureResult Failure(SignatureStep step, uint32_t code) { return Verdict(SignatureVerdict::Failed, step, code); }

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

// The verdict on a signature that is valid in itself, from its signer's chain: its status (a
// revocation that could not be checked passes, with `revocationNotChecked` set), then the pins.
SignatureResult JudgeChain(PCCERT_CHAIN_CONTEXT chain, const SignerPins& pins, bool revocationNotChecked)
{
    // WinVerifyTrust may accept a signature without having judged its chain (Wine skips the
    // chain policy for certificates signed with SHA-256), so the chain's own status decides.
    if (!chain || chain->cChain == 0) return Failure(SignatureStep::Chain, TRUST_E_NO_SIGNER_CERT);
    const ChainVerdict status = JudgeChainStatus(chain->TrustStatus.dwErrorStatus);
    if (status == ChainVerdict::Refused) return Failure(SignatureStep::Chain, chain->TrustStatus.dwErrorStatus);
    SignatureResult result = ChainHoldsPin(chain, pins)
                                 ? Verdict(SignatureVerdict::Trusted, SignatureStep::Pins, 0)
                                 : Verdict(SignatureVerdict::NotTrusted, SignatureStep::Pins, 0);
    result.revocationNotChecked = revocationNotChecked || status == ChainVerdict::RevocationNotChecked;
    return result;
}

// What the primary verification found out about the other signatures.
struct Secondaries {
    bool verifiable = false;  // Windows verifies any one of them (WSS_VERIFY_SPECIFIC)
    DWORD count = 0;
};

// One signature as WinVerifyTrust judges it: the primary (index 0), or a secondary one where
// Windows can verify it. Revocation is checked; where it could not be, the chain's status
// decides whether that is all that is wrong, and the rest is verified once more without it.
SignatureResult JudgeWithWinVerifyTrust(HANDLE file, const std::wstring& path, const SignerPins& pins, DWORD index,
                                        Secondaries* secondaries)
{
    TrustVerification online(file, path, true, index);
    if (secondaries) {
        secondaries->verifiable = online.VerifiedIndex() == index;
        secondaries->count = online.SecondaryCount();
    } else if (online.VerifiedIndex() != index) {
        return Failure(SignatureStep::Trust, TRUST_E_NOSIGNATURE);
    }
    if (online.Result() == 0) return JudgeChain(online.SignerChain(), pins, false);
    if (!IsRevocationNotChecked(static_cast<uint32_t>(online.Result()))) return Failure(SignatureStep::Trust, online.Result());
    const PCCERT_CHAIN_CONTEXT chain = online.SignerChain();
    if (chain && JudgeChainStatus(chain->TrustStatus.dwErrorStatus) == ChainVerdict::Refused)
        return Failure(SignatureStep::Chain, chain->TrustStatus.dwErrorStatus);
    TrustVerification offline(file, path, false, index);
    if (offline.Result() != 0) return Failure(SignatureStep::Trust, offline.Result());
    return JudgeChain(offline.SignerChain(), pins, true);
}

// ---- the certificate table, read through the held handle ---------------------------------------

bool ReadExactly(HANDLE file, uint64_t offset, void* buffer, DWORD size)
{
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(offset);
    if (!SetFilePointerEx(file, at, nullptr, FILE_BEGIN)) return false;
    auto* bytes = static_cast<unsigned char*>(buffer);
    while (size > 0) {
        DWORD got = 0;
        if (!ReadFile(file, bytes, size, &got, nullptr) || got == 0) return false;
        bytes += got;
        size -= got;
    }
    return true;
}

enum class TableState { Absent, OneSignature, ExtraBytes };

struct SignatureTable {
    uint64_t fileSize = 0;
    SignatureArea area;
    std::vector<BYTE> bytes;
    size_t signedData = 0, signedDataSize = 0;
};

TableState ReadSignatureTable(HANDLE file, SignatureTable* table)
{
    LARGE_INTEGER size;
    unsigned char dos[kDosHeaderSize];
    uint64_t peOffset = 0;
    if (!GetFileSizeEx(file, &size) || !ReadExactly(file, 0, dos, sizeof dos)) return TableState::Absent;
    table->fileSize = static_cast<uint64_t>(size.QuadPart);
    if (!PeSignatureOffset(dos, sizeof dos, table->fileSize, &peOffset)) return TableState::Absent;
    unsigned char headers[kSignatureHeadersSize];
    const uint64_t available = table->fileSize - peOffset;
    const DWORD count = static_cast<DWORD>(available < sizeof headers ? available : sizeof headers);
    if (!ReadExactly(file, peOffset, headers, count) ||
        !FindSignatureArea(headers, count, peOffset, table->fileSize, &table->area))
        return TableState::Absent;
    if (table->area.tableSize > kMaxCertificateTableSize) return TableState::ExtraBytes;
    table->bytes.resize(static_cast<size_t>(table->area.tableSize));
    if (!ReadExactly(file, table->area.tableOffset, table->bytes.data(), static_cast<DWORD>(table->bytes.size())))
        return TableState::Absent;
    return CheckCertificateTable(table->bytes.data(), table->bytes.size(), &table->signedData,
                                 &table->signedDataSize) == CertificateTable::OneSignature
               ? TableState::OneSignature
               : TableState::ExtraBytes;
}

// ---- nested signatures, verified by our own reading where Windows cannot ------------------------

UniqueCryptMsg DecodeMessage(const BYTE* der, DWORD size)
{
    UniqueCryptMsg message(CryptMsgOpenToDecode(kEncoding, 0, 0, 0, nullptr, nullptr));
    if (!message || !CryptMsgUpdate(message.Get(), der, size, TRUE)) return UniqueCryptMsg();
    return message;
}

// A parameter of a decoded message, as the bytes CryptMsgGetParam gives; empty when it has none.
std::vector<BYTE> MessageParam(HCRYPTMSG message, DWORD type, DWORD index)
{
    DWORD size = 0;
    if (!CryptMsgGetParam(message, type, index, nullptr, &size) || size == 0) return {};
    std::vector<BYTE> value(size);
    if (!CryptMsgGetParam(message, type, index, value.data(), &size)) return {};
    value.resize(size);
    return value;
}

// The first value of the attribute `oid` among `attributes`, or nullptr.
const CRYPT_ATTR_BLOB* AttributeValue(const CRYPT_ATTRIBUTES& attributes, const char* oid)
{
    for (DWORD i = 0; i < attributes.cAttr; ++i) {
        const CRYPT_ATTRIBUTE& attribute = attributes.rgAttr[i];
        if (attribute.pszObjId && std::strcmp(attribute.pszObjId, oid) == 0 && attribute.cValue > 0)
            return &attribute.rgValue[0];
    }
    return nullptr;
}

// The file's Authenticode SHA-256, taken once through the handle when a nested signature needs it.
class ImageSha256 {
public:
    ImageSha256(HANDLE file, const SignatureTable& table) : m_file(file), m_table(table) {}

    bool Matches(const Sha256::Digest& signedDigest)
    {
        if (!m_taken) {
            m_taken = true;
            m_valid = Take();
        }
        return m_valid && m_digest == signedDigest;
    }

private:
    bool Take()
    {
        ByteRange ranges[3];
        if (!ImageDigestRanges(m_table.area, m_table.fileSize, ranges)) return false;
        Sha256 hash;
        std::vector<unsigned char> buffer(64 * 1024);
        for (const ByteRange& range : ranges) {
            for (uint64_t done = 0; done < range.length;) {
                const uint64_t left = range.length - done;
                const DWORD piece = static_cast<DWORD>(left < buffer.size() ? left : buffer.size());
                if (!ReadExactly(m_file, range.offset + done, buffer.data(), piece)) return false;
                hash.Update(buffer.data(), piece);
                done += piece;
            }
        }
        m_digest = hash.Finish();
        return true;
    }

    HANDLE m_file;
    const SignatureTable& m_table;
    bool m_taken = false, m_valid = false;
    Sha256::Digest m_digest{};
};

// One nested signature (a DER SignedData) verified as WinVerifyTrust verifies a primary one:
// SHA-256 only, which is what a file signed first with SHA-1 nests. Its content must name the
// image's digest, its signer's message digest must cover that content, its signature must be the
// signer's, and the signer's chain (built now, revocation checked) must pass as a primary's does.
SignatureResult JudgeNested(const CRYPT_ATTR_BLOB& nested, ImageSha256& image, const SignerPins& pins)
{
    const UniqueCryptMsg message = DecodeMessage(nested.pbData, nested.cbData);
    if (!message) return Failure(SignatureStep::Trust, TRUST_E_NOSIGNATURE);
    const std::vector<BYTE> type = MessageParam(message.Get(), CMSG_INNER_CONTENT_TYPE_PARAM, 0);
    const std::vector<BYTE> content = MessageParam(message.Get(), CMSG_CONTENT_PARAM, 0);
    ImageDigest signedImage;
    if (type.empty() || std::strcmp(reinterpret_cast<const char*>(type.data()), SPC_INDIRECT_DATA_OBJID) != 0 ||
        !ReadImageDigest(content.data(), content.size(), &signedImage))
        return Failure(SignatureStep::Trust, TRUST_E_SUBJECT_FORM_UNKNOWN);

    DWORD signers = 0, size = sizeof signers;
    if (!CryptMsgGetParam(message.Get(), CMSG_SIGNER_COUNT_PARAM, 0, &signers, &size) || signers != 1)
        return Failure(SignatureStep::Trust, TRUST_E_NOSIGNATURE);
    const std::vector<BYTE> signerBytes = MessageParam(message.Get(), CMSG_SIGNER_INFO_PARAM, 0);
    if (signerBytes.size() < sizeof(CMSG_SIGNER_INFO)) return Failure(SignatureStep::Trust, TRUST_E_NOSIGNATURE);
    const auto* signer = reinterpret_cast<const CMSG_SIGNER_INFO*>(signerBytes.data());
    const CRYPT_ATTR_BLOB* digestValue = AttributeValue(signer->AuthAttrs, szOID_RSA_messageDigest);
    Sha256::Digest messageDigest;
    if (!signer->HashAlgorithm.pszObjId || std::strcmp(signer->HashAlgorithm.pszObjId, szOID_NIST_sha256) != 0 ||
        !digestValue || !ReadMessageDigest(digestValue->pbData, digestValue->cbData, &messageDigest) ||
        messageDigest != Sha256::Of(content.data() + signedImage.signedOffset, signedImage.signedSize))
        return Failure(SignatureStep::Trust, TRUST_E_BAD_DIGEST);

    const UniqueCertStore store(CertOpenStore(CERT_STORE_PROV_MSG, kEncoding, 0, 0, message.Get()));
    const std::vector<BYTE> certInfo = MessageParam(message.Get(), CMSG_SIGNER_CERT_INFO_PARAM, 0);
    if (!store || certInfo.size() < sizeof(CERT_INFO)) return Failure(SignatureStep::Trust, TRUST_E_NO_SIGNER_CERT);
    const UniqueCertificate certificate(CertGetSubjectCertificateFromStore(
        store.Get(), kEncoding, const_cast<CERT_INFO*>(reinterpret_cast<const CERT_INFO*>(certInfo.data()))));
    if (!certificate) return Failure(SignatureStep::Trust, TRUST_E_NO_SIGNER_CERT);
    CMSG_CTRL_VERIFY_SIGNATURE_EX_PARA verify{};
    verify.cbSize = sizeof verify;
    verify.dwSignerIndex = 0;
    verify.dwSignerType = CMSG_VERIFY_SIGNER_CERT;
    verify.pvSigner = const_cast<CERT_CONTEXT*>(certificate.Get());
    if (!CryptMsgControl(message.Get(), 0, CMSG_CTRL_VERIFY_SIGNATURE_EX, &verify))
        return Failure(SignatureStep::Trust, TRUST_E_CERT_SIGNATURE);
    if (!image.Matches(signedImage.digest)) return Failure(SignatureStep::Trust, TRUST_E_BAD_DIGEST);

    LPSTR codeSigning[] = {const_cast<LPSTR>(szOID_PKIX_KP_CODE_SIGNING)};
    CERT_CHAIN_PARA para{};
    para.cbSize = sizeof para;
    para.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
    para.RequestedUsage.Usage.cUsageIdentifier = 1;
    para.RequestedUsage.Usage.rgpszUsageIdentifier = codeSigning;
    UniqueChain chain;
    if (!CertGetCertificateChain(nullptr, certificate.Get(), nullptr, store.Get(), &para,
                                 CERT_CHAIN_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT, nullptr, chain.Put()))
        return Failure(SignatureStep::Chain, TRUST_E_NO_SIGNER_CERT);
    return JudgeChain(chain.Get(), pins, false);
}

// The nested signatures that the primary signer carries (szOID_NESTED_SIGNATURE, an
// unauthenticated attribute): the first that is trusted, or nothing.
bool TrustedNested(const SignatureTable& table, ImageSha256& image, const SignerPins& pins, SignatureResult* trusted)
{
    const UniqueCryptMsg primary = DecodeMessage(table.bytes.data() + table.signedData,
                                                 static_cast<DWORD>(table.signedDataSize));
    if (!primary) return false;
    const std::vector<BYTE> buffer = MessageParam(primary.Get(), CMSG_SIGNER_UNAUTH_ATTR_PARAM, 0);
    if (buffer.size() < sizeof(CRYPT_ATTRIBUTES)) return false;
    const auto* attributes = reinterpret_cast<const CRYPT_ATTRIBUTES*>(buffer.data());
    unsigned index = 0;
    for (DWORD i = 0; i < attributes->cAttr; ++i) {
        const CRYPT_ATTRIBUTE& attribute = attributes->rgAttr[i];
        if (!attribute.pszObjId || std::strcmp(attribute.pszObjId, kNestedSignature) != 0) continue;
        for (DWORD v = 0; v < attribute.cValue && index < kMaxSecondarySignatures; ++v) {
            SignatureResult result = JudgeNested(attribute.rgValue[v], image, pins);
            result.signature = ++index;
            if (result.verdict == SignatureVerdict::Trusted) {
                *trusted = result;
                return true;
            }
        }
    }
    return false;
}

}  // namespace

SignatureResult CheckSignature(HANDLE file, const std::wstring& path, const SignerPins& pins)
{
    if (pins.empty()) return Verdict(SignatureVerdict::NotTrusted, SignatureStep::Pins, 0);
    // Loaded by full path before its first call: the delay-load by name then finds it loaded,
    // where a search that could not be restricted would look beside the exe first. Its own
    // imports are looked for in the system folder. It stays loaded for the rest of the run.
    if (!LoadSystemLibrary(L"wintrust.dll")) {
        const DWORD error = GetLastError();
        return Verdict(SignatureVerdict::Failed, SignatureStep::Trust,
                       static_cast<uint32_t>(error ? HRESULT_FROM_WIN32(error) : TRUST_E_SYSTEM_ERROR));
    }
    // Windows accepts bytes after the signature inside its table unless told otherwise; such
    // bytes are signed by nobody, so a file carrying them is refused before anything else.
    SignatureTable table;
    const TableState state = ReadSignatureTable(file, &table);
    if (state == TableState::ExtraBytes) return Verdict(SignatureVerdict::Failed, SignatureStep::Table, 0);

    Secondaries secondaries;
    const SignatureResult primary = JudgeWithWinVerifyTrust(file, path, pins, 0, &secondaries);
    if (state == TableState::Absent) {
        // Nothing we could read vouches for what WinVerifyTrust may have accepted.
        return primary.verdict == SignatureVerdict::Trusted ? Failure(SignatureStep::Trust, TRUST_E_NOSIGNATURE)
                                                            : primary;
    }
    if (primary.verdict == SignatureVerdict::Trusted) return primary;

    if (secondaries.verifiable) {
        for (DWORD index = 1; index <= secondaries.count && index <= kMaxSecondarySignatures; ++index) {
            SignatureResult secondary = JudgeWithWinVerifyTrust(file, path, pins, index, nullptr);
            secondary.signature = index;
            if (secondary.verdict == SignatureVerdict::Trusted) return secondary;
        }
        return primary;
    }
    ImageSha256 image(file, table);
    SignatureResult nested;
    return TrustedNested(table, image, pins, &nested) ? nested : primary;
}
