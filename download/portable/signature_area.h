#pragma once
#include <cstddef>
#include <cstdint>

#include "support/portable/sha256.h"

// Where a Windows program keeps its Authenticode signature, and what that area may hold. The
// bytes come from a downloaded file, so every offset and length is checked against the bytes
// and the file before it is used.

// The PE signature, the file header and an optional header up to the security directory entry
// (the fifth data directory) of a PE32+ image, the larger kind.
constexpr size_t kSignatureHeadersSize = 4 + 20 + 112 + 5 * 8;

// A certificate table larger than this is no signature of ours or anyone's (one with its
// chains and a timestamp takes a few KB), and is not read.
constexpr uint64_t kMaxCertificateTableSize = 1u << 20;

struct SignatureArea {
    uint64_t checksumOffset = 0;   // the optional header's CheckSum (4 bytes), not signed
    uint64_t directoryOffset = 0;  // the security directory entry (8 bytes), not signed
    uint64_t tableOffset = 0;      // the certificate table: a file offset, not an address
    uint64_t tableSize = 0;
};

// From `headers`, the bytes read at the PE signature's offset `peOffset` (at most
// kSignatureHeadersSize are needed), and the file's size: where the certificate table lies.
// False when they are not the headers of a PE32 or PE32+ image, when the image has no
// certificate table, or when the table does not lie inside the file after the headers.
bool FindSignatureArea(const uint8_t* headers, size_t size, uint64_t peOffset, uint64_t fileSize,
                       SignatureArea* area);

enum class CertificateTable {
    OneSignature,  // exactly one WIN_CERTIFICATE of a PKCS#7 SignedData, padded with at most
                   // seven zero bytes, and nothing after it
    ExtraBytes,    // anything else: bytes after the signature (hidden there, as CVE-2013-3900
                   // allows Windows to accept), a second entry, padding that is not zero
};

// Judges the certificate table's bytes (`size` of them, the whole table). For OneSignature,
// `signedData` and `signedDataSize` give where the DER SignedData lies in `table`.
CertificateTable CheckCertificateTable(const uint8_t* table, size_t size, size_t* signedData,
                                       size_t* signedDataSize);

struct ByteRange {
    uint64_t offset = 0;
    uint64_t length = 0;
};

// The parts of the file that its Authenticode digest covers, in file order: everything but the
// checksum, the security directory entry and the certificate table. False unless the table
// ends the file (bytes after it would be signed by nobody).
bool ImageDigestRanges(const SignatureArea& area, uint64_t fileSize, ByteRange ranges[3]);

// What a signature of a PE image vouches for: its SpcIndirectDataContent (the signed content of
// an Authenticode SignedData, tag and length included).
struct ImageDigest {
    Sha256::Digest digest{};  // the SHA-256 of the image's ranges above
    size_t signedOffset = 0;  // the content's contents octets, which the signer's message
    size_t signedSize = 0;    // digest attribute covers (its tag and length are left out)
};

// False unless `der` is one SpcIndirectDataContent of a PE image with a SHA-256 digest.
bool ReadImageDigest(const uint8_t* der, size_t size, ImageDigest* image);

// The SHA-256 held in a message digest attribute's value (an OCTET STRING of 32 bytes).
bool ReadMessageDigest(const uint8_t* der, size_t size, Sha256::Digest* digest);
