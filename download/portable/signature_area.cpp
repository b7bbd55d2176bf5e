#include "download/portable/signature_area.h"

#include <cstring>

#include "support/portable/der.h"

namespace {

uint32_t Read16(const uint8_t* p) { return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8; }
uint32_t Read32(const uint8_t* p) { return Read16(p) | Read16(p + 2) << 16; }

constexpr size_t kFileHeaderAt = 4, kOptionalHeaderAt = 24;
constexpr uint32_t kPe32 = 0x10B, kPe32Plus = 0x20B;
constexpr uint32_t kSecurityDirectory = 4;
constexpr size_t kWinCertificateHeader = 8;  // dwLength, wRevision, wCertificateType
constexpr uint32_t kPkcsSignedData = 2;      // WIN_CERT_TYPE_PKCS_SIGNED_DATA

constexpr uint8_t kSequence = 0x30, kOid = 0x06, kOctetString = 0x04, kNull = 0x05;
// 1.3.6.1.4.1.311.2.1.15, SPC_PE_IMAGE_DATAOBJ
constexpr uint8_t kPeImageData[] = {0x2B, 0x06, 0x01, 0x04, 0x01, 0x82, 0x37, 0x02, 0x01, 0x0F};
// 2.16.840.1.101.3.4.2.1, SHA-256
constexpr uint8_t kSha256[] = {0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x01};

}  // namespace

bool FindSignatureArea(const uint8_t* headers, size_t size, uint64_t peOffset, uint64_t fileSize,
                       SignatureArea* area)
{
    if (!headers || size < kOptionalHeaderAt + 2) return false;
    if (std::memcmp(headers, "PE\0\0", 4) != 0) return false;
    const uint32_t optionalSize = Read16(headers + kFileHeaderAt + 16);
    const uint8_t* optional = headers + kOptionalHeaderAt;
    const uint32_t magic = Read16(optional);
    size_t countAt = 0;
    if (magic == kPe32) {
        countAt = 92;
    } else if (magic == kPe32Plus) {
        countAt = 108;
    } else {
        return false;
    }
    const size_t directoryAt = countAt + 4 + kSecurityDirectory * 8;
    // The entry must be in the bytes given, in the optional header, and counted as present.
    if (size - kOptionalHeaderAt < directoryAt + 8 || optionalSize < directoryAt + 8) return false;
    if (Read32(optional + countAt) <= kSecurityDirectory) return false;
    const uint64_t tableOffset = Read32(optional + directoryAt);
    const uint64_t tableSize = Read32(optional + directoryAt + 4);
    const uint64_t directoryOffset = peOffset + kOptionalHeaderAt + directoryAt;
    if (tableSize == 0) return false;
    // After the headers, and inside the file.
    if (tableOffset < directoryOffset + 8 || tableOffset > fileSize || tableSize > fileSize - tableOffset)
        return false;
    area->checksumOffset = peOffset + kOptionalHeaderAt + 64;
    area->directoryOffset = directoryOffset;
    area->tableOffset = tableOffset;
    area->tableSize = tableSize;
    return true;
}

CertificateTable CheckCertificateTable(const uint8_t* table, size_t size, size_t* signedData, size_t* signedDataSize)
{
    if (!table || size < kWinCertificateHeader) return CertificateTable::ExtraBytes;
    const uint32_t length = Read32(table);
    const uint32_t revision = Read16(table + 4), type = Read16(table + 6);
    if (length < kWinCertificateHeader || length > size) return CertificateTable::ExtraBytes;
    if ((revision != 0x0100 && revision != 0x0200) || type != kPkcsSignedData) return CertificateTable::ExtraBytes;
    // The SignedData is one DER item; its own length says where it ends, whatever dwLength says.
    DerItem item;
    if (!ReadDerItem(table, kWinCertificateHeader, length, &item) || item.tag != kSequence)
        return CertificateTable::ExtraBytes;
    const size_t padding = size - item.end;
    if (padding > 7) return CertificateTable::ExtraBytes;
    for (size_t at = item.end; at < size; ++at) {
        if (table[at] != 0) return CertificateTable::ExtraBytes;
    }
    *signedData = kWinCertificateHeader;
    *signedDataSize = item.end - kWinCertificateHeader;
    return CertificateTable::OneSignature;
}

bool ImageDigestRanges(const SignatureArea& area, uint64_t fileSize, ByteRange ranges[3])
{
    if (area.tableOffset > fileSize || fileSize - area.tableOffset != area.tableSize) return false;
    if (area.checksumOffset + 4 > area.directoryOffset || area.directoryOffset + 8 > area.tableOffset) return false;
    ranges[0] = {0, area.checksumOffset};
    ranges[1] = {area.checksumOffset + 4, area.directoryOffset - area.checksumOffset - 4};
    ranges[2] = {area.directoryOffset + 8, area.tableOffset - area.directoryOffset - 8};
    return true;
}

bool ReadImageDigest(const uint8_t* der, size_t size, ImageDigest* image)
{
    // SpcIndirectDataContent ::= SEQUENCE {
    //     data           SEQUENCE { type OBJECT IDENTIFIER, value ANY OPTIONAL },
    //     messageDigest  SEQUENCE { digestAlgorithm SEQUENCE { OID, parameters }, digest OCTET STRING } }
    DerItem content, data, type, digestInfo, algorithm, oid, digest;
    if (!ReadDerItem(der, 0, size, &content) || content.tag != kSequence || content.end != size) return false;
    if (!ReadDerItem(der, content.contents, content.end, &data) || data.tag != kSequence) return false;
    if (!ReadDerItem(der, data.contents, data.end, &type) || type.tag != kOid ||
        !DerContentsEqual(der, type, kPeImageData, sizeof kPeImageData))
        return false;
    if (!ReadDerItem(der, data.end, content.end, &digestInfo) || digestInfo.tag != kSequence ||
        digestInfo.end != content.end)
        return false;
    if (!ReadDerItem(der, digestInfo.contents, digestInfo.end, &algorithm) || algorithm.tag != kSequence) return false;
    if (!ReadDerItem(der, algorithm.contents, algorithm.end, &oid) || oid.tag != kOid ||
        !DerContentsEqual(der, oid, kSha256, sizeof kSha256))
        return false;
    if (oid.end != algorithm.end) {
        // Parameters: absent or NULL for SHA-256.
        DerItem parameters;
        if (!ReadDerItem(der, oid.end, algorithm.end, &parameters) || parameters.tag != kNull ||
            parameters.contents != parameters.end || parameters.end != algorithm.end)
            return false;
    }
    if (!ReadDerItem(der, algorithm.end, digestInfo.end, &digest) || digest.tag != kOctetString ||
        digest.end != digestInfo.end || digest.end - digest.contents != image->digest.size())
        return false;
    std::memcpy(image->digest.data(), der + digest.contents, image->digest.size());
    image->signedOffset = content.contents;
    image->signedSize = content.end - content.contents;
    return true;
}

bool ReadMessageDigest(const uint8_t* der, size_t size, Sha256::Digest* digest)
{
    DerItem item;
    if (!ReadDerItem(der, 0, size, &item) || item.tag != kOctetString || item.end != size ||
        item.end - item.contents != digest->size())
        return false;
    std::memcpy(digest->data(), der + item.contents, digest->size());
    return true;
}
