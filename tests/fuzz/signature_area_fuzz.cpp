// libFuzzer target: any bytes as the parts of a downloaded program that the signature check
// reads before any system call sees them: the PE headers, the certificate table and a signed
// content. Besides the sanitizers, it checks what the check relies on: what it finds lies
// inside the bytes and the file, a table it accepts has at most seven zero bytes after its
// signature, and the signed ranges with the three left out add up to the file.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "download/portable/signature_area.h"

namespace {
void Require(bool condition)
{
    if (!condition) std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const uint64_t peOffset = 0x80;
    for (uint64_t fileSize : {uint64_t{size}, uint64_t{0x20000}}) {
        SignatureArea area;
        if (FindSignatureArea(data, size, peOffset, fileSize, &area)) {
            Require(area.tableSize > 0 && area.tableOffset + area.tableSize <= fileSize);
            Require(area.checksumOffset + 4 <= area.directoryOffset && area.directoryOffset + 8 <= area.tableOffset);
            ByteRange ranges[3];
            if (ImageDigestRanges(area, fileSize, ranges)) {
                Require(ranges[0].length + ranges[1].length + ranges[2].length + 4 + 8 + area.tableSize == fileSize);
            }
        }
    }
    size_t at = 0, length = 0;
    if (CheckCertificateTable(data, size, &at, &length) == CertificateTable::OneSignature) {
        Require(at == 8 && at + length <= size && size - at - length <= 7);
        for (size_t i = at + length; i < size; ++i) Require(data[i] == 0);
    }
    ImageDigest image;
    if (ReadImageDigest(data, size, &image)) Require(image.signedOffset + image.signedSize == size);
    Sha256::Digest digest;
    if (ReadMessageDigest(data, size, &digest)) Require(size == 34);
    return 0;
}
