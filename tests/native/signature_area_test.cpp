#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "download/portable/signature_area.h"

namespace {

using Bytes = std::vector<uint8_t>;

void Put16(Bytes& b, size_t at, uint32_t v)
{
    b[at] = static_cast<uint8_t>(v);
    b[at + 1] = static_cast<uint8_t>(v >> 8);
}
void Put32(Bytes& b, size_t at, uint32_t v)
{
    Put16(b, at, v & 0xFFFF);
    Put16(b, at + 2, v >> 16);
}

// The headers read at the PE signature of an image of either kind whose security directory
// names `tableOffset` and `tableSize`: the optional header as long as a linker writes it.
Bytes Headers(bool pe32Plus, uint32_t tableOffset, uint32_t tableSize, uint32_t directories = 16)
{
    const size_t optional = pe32Plus ? 240 : 224;
    Bytes h(24 + optional, 0);
    std::memcpy(h.data(), "PE\0\0", 4);
    Put16(h, 4 + 16, static_cast<uint32_t>(optional));
    Put16(h, 24, pe32Plus ? 0x20B : 0x10B);
    const size_t count = 24 + (pe32Plus ? 108 : 92);
    Put32(h, count, directories);
    Put32(h, count + 4 + 4 * 8, tableOffset);
    Put32(h, count + 4 + 4 * 8 + 4, tableSize);
    return h;
}

// One WIN_CERTIFICATE holding `der`, dwLength covering `padding` zero bytes after it, as
// osslsigncode and signtool write it.
Bytes Table(const Bytes& der, size_t padding)
{
    Bytes t(8, 0);
    Put32(t, 0, static_cast<uint32_t>(8 + der.size() + padding));
    Put16(t, 4, 0x0200);
    Put16(t, 6, 2);
    t.insert(t.end(), der.begin(), der.end());
    t.insert(t.end(), padding, 0);
    return t;
}

// A SEQUENCE of `size` content bytes, in the long length form when it needs one.
Bytes Sequence(size_t size)
{
    Bytes der{0x30};
    if (size < 0x80) {
        der.push_back(static_cast<uint8_t>(size));
    } else {
        der.push_back(0x82);
        der.push_back(static_cast<uint8_t>(size >> 8));
        der.push_back(static_cast<uint8_t>(size));
    }
    der.insert(der.end(), size, 0xA5);
    return der;
}

CertificateTable Check(const Bytes& table, size_t* at = nullptr, size_t* size = nullptr)
{
    size_t a = 0, s = 0;
    const CertificateTable state = CheckCertificateTable(table.data(), table.size(), &a, &s);
    if (at) *at = a;
    if (size) *size = s;
    return state;
}

TEST(SignatureArea, TheSecurityDirectoryOfBothKindsOfImage)
{
    for (bool plus : {false, true}) {
        const Bytes h = Headers(plus, 0x9000, 0x1238);
        SignatureArea area;
        ASSERT_TRUE(FindSignatureArea(h.data(), h.size(), 0x80, 0x9000 + 0x1238, &area)) << plus;
        EXPECT_EQ(area.checksumOffset, 0x80u + 24 + 64);
        EXPECT_EQ(area.directoryOffset, 0x80u + 24 + (plus ? 112 : 96) + 32);
        EXPECT_EQ(area.tableOffset, 0x9000u);
        EXPECT_EQ(area.tableSize, 0x1238u);
        // Only the bytes up to the entry are needed.
        EXPECT_TRUE(FindSignatureArea(h.data(), kSignatureHeadersSize - (plus ? 0 : 16), 0x80, 0xA238, &area));
    }
}

TEST(SignatureArea, NoTableOrOneOutsideTheFileIsNone)
{
    SignatureArea area;
    const uint64_t file = 0x10000;
    const std::pair<const char*, Bytes> cases[] = {
        {"unsigned", Headers(false, 0, 0)},
        {"an address but no size", Headers(false, 0x9000, 0)},
        {"four data directories", Headers(false, 0x9000, 0x100, 4)},
        {"past the end", Headers(true, 0xFF00, 0x108)},
        {"offset beyond the file", Headers(false, 0x20000, 8)},
        {"size wrapping around", Headers(false, 0x9000, 0xFFFFFFF8)},
        {"over the headers", Headers(false, 0x80, 0x100)},
    };
    for (const auto& c : cases) EXPECT_FALSE(FindSignatureArea(c.second.data(), c.second.size(), 0x80, file, &area)) << c.first;
    // Not a PE signature, a ROM image's magic, an optional header that ends before the entry.
    const std::pair<size_t, uint32_t> changes[] = {{0, 0x4558}, {24, 0x107}, {20, 96 + 32}};
    for (const auto& change : changes) {
        Bytes h = Headers(false, 0x9000, 0x100);
        Put16(h, change.first, change.second);
        EXPECT_FALSE(FindSignatureArea(h.data(), h.size(), 0x80, file, &area)) << change.first;
    }
    const Bytes h = Headers(false, 0x9000, 0x100);
    for (size_t cut = 0; cut < 24 + 96 + 40; ++cut)
        EXPECT_FALSE(FindSignatureArea(h.data(), cut, 0x80, file, &area)) << "cut at " << cut;
    EXPECT_FALSE(FindSignatureArea(nullptr, 0, 0x80, file, &area));
}

TEST(CertificateTable, OneSignatureWithUpToSevenZeroBytesOfPadding)
{
    for (size_t size : {0x30u, 0x7Fu, 0x1800u}) {
        const Bytes der = Sequence(size);
        for (size_t padding = 0; padding <= 7; ++padding) {
            size_t at = 0, length = 0;
            ASSERT_EQ(Check(Table(der, padding), &at, &length), CertificateTable::OneSignature) << size << " " << padding;
            EXPECT_EQ(at, 8u);
            EXPECT_EQ(length, der.size());
            // Padding outside dwLength (a table rounded up beyond it) is the same.
            Bytes unpadded = Table(der, 0);
            unpadded.insert(unpadded.end(), padding, 0);
            EXPECT_EQ(Check(unpadded), CertificateTable::OneSignature) << size << " " << padding;
        }
    }
}

// What CVE-2013-3900 lets through on Windows: bytes that no signature covers, in the table.
TEST(CertificateTable, AnythingBesideTheOneSignatureIsExtraBytes)
{
    const Bytes der = Sequence(0x200);
    const Bytes good = Table(der, 6);
    ASSERT_EQ(Check(good), CertificateTable::OneSignature);
    const auto changed = [&](size_t at, uint32_t value, int width) {
        Bytes t = good;
        width == 2 ? Put16(t, at, value) : Put32(t, at, value);
        return t;
    };
    const auto appended = [&](Bytes t, const Bytes& more, bool inside) {
        t.insert(t.end(), more.begin(), more.end());
        if (inside) Put32(t, 0, static_cast<uint32_t>(t.size()));
        return t;
    };
    const Bytes payload(32, 0x41);
    const std::pair<const char*, Bytes> cases[] = {
        {"eight bytes of padding", Table(der, 8)},
        {"a payload inside dwLength", appended(Table(der, 0), payload, true)},
        {"a payload after dwLength", appended(good, payload, false)},
        {"non-zero padding", changed(good.size() - 4, 0x01000000, 4)},
        {"a second entry", appended(good, Table(Sequence(0x10), 6), false)},
        {"dwLength past the table", changed(0, static_cast<uint32_t>(good.size() + 8), 4)},
        {"dwLength shorter than its signature", changed(0, 8 + 0x100, 4)},
        {"an X.509 entry", changed(6, 1, 2)},
        {"an unknown revision", changed(4, 0x0300, 2)},
        {"no SEQUENCE", changed(8, 0x8231, 2)},
        {"an indefinite length", Table(Bytes{0x30, 0x80, 0x02, 0x01, 0x01, 0x00, 0x00}, 1)},
        {"only a header", Bytes(good.begin(), good.begin() + 8)},
        {"nothing", Bytes()},
    };
    for (const auto& c : cases) EXPECT_EQ(Check(c.second), CertificateTable::ExtraBytes) << c.first;
    EXPECT_EQ(CheckCertificateTable(nullptr, 0, nullptr, nullptr), CertificateTable::ExtraBytes);
}

// The table comes from a downloaded file: whatever its bytes, the check stays inside them (the
// sanitizers watch) and a signature it finds lies within them.
TEST(CertificateTable, DamagedTablesAreJudgedWithinTheirBytes)
{
    const Bytes good = Table(Sequence(0x90), 5);
    for (size_t cut = 0; cut < good.size(); ++cut) {
        Bytes table(good.begin(), good.begin() + static_cast<long>(cut));
        EXPECT_EQ(Check(table), CertificateTable::ExtraBytes) << cut;
    }
    for (size_t at = 0; at < 16; ++at) {
        for (int bit = 0; bit < 8; ++bit) {
            Bytes table = good;
            table[at] = static_cast<uint8_t>(table[at] ^ (1 << bit));
            size_t offset = 0, size = 0;
            if (Check(table, &offset, &size) == CertificateTable::OneSignature) {
                EXPECT_LE(offset + size, table.size()) << at << " " << bit;
                EXPECT_LE(table.size() - offset - size, 7u) << at << " " << bit;
            }
        }
    }
}

TEST(ImageDigestRanges, EverythingButTheChecksumTheEntryAndTheTableWhichEndsTheFile)
{
    const Bytes h = Headers(false, 0x9000, 0x238);
    SignatureArea area;
    ASSERT_TRUE(FindSignatureArea(h.data(), h.size(), 0x80, 0x9238, &area));
    ByteRange ranges[3];
    ASSERT_TRUE(ImageDigestRanges(area, 0x9238, ranges));
    EXPECT_EQ(ranges[0].offset, 0u);
    EXPECT_EQ(ranges[0].length, area.checksumOffset);
    EXPECT_EQ(ranges[1].offset, area.checksumOffset + 4);
    EXPECT_EQ(ranges[1].offset + ranges[1].length, area.directoryOffset);
    EXPECT_EQ(ranges[2].offset, area.directoryOffset + 8);
    EXPECT_EQ(ranges[2].offset + ranges[2].length, 0x9000u);
    // Bytes after the table would be signed by nobody.
    EXPECT_FALSE(ImageDigestRanges(area, 0x9238 + 1, ranges));
    EXPECT_FALSE(ImageDigestRanges(area, 0x9238 - 1, ranges));
}

// An SpcIndirectDataContent as osslsigncode signs it (SHA-256 of a PE image), and the message
// digest its signer info carries for it: SHA-256 of the content without its tag and length.
const Bytes kIndirect = [] {
    const char hex[] =
        "30693034060a2b06010401823702010f302603020780a020a21e801c003c003c003c004f00620073006f006c00650074"
        "0065003e003e003e3031300d060960864801650304020105000420dca00f985beea0af97a0e7e264389eeabd9d1b4aac"
        "eef0ea616ffcd11d3cc5be";
    Bytes b;
    for (size_t i = 0; hex[i] && hex[i + 1]; i += 2) b.push_back(static_cast<uint8_t>(std::stoi(std::string(hex + i, 2), nullptr, 16)));
    return b;
}();
const char kImageSha256[] = "dca00f985beea0af97a0e7e264389eeabd9d1b4aaceef0ea616ffcd11d3cc5be";
const char kMessageDigest[] = "021c956a912f9156a0697a3073cdd077d2ac52e2b11cfb063db73373501cfc93";

TEST(ImageDigest, TheSignedContentNamesTheImageAndTheMessageDigestCoversItsContents)
{
    ImageDigest image;
    ASSERT_TRUE(ReadImageDigest(kIndirect.data(), kIndirect.size(), &image));
    EXPECT_EQ(DigestToHex(image.digest), kImageSha256);
    EXPECT_EQ(DigestToHex(Sha256::Of(kIndirect.data() + image.signedOffset, image.signedSize)), kMessageDigest);

    Bytes attribute{0x04, 0x20};
    Sha256::Digest expected, digest;
    ASSERT_TRUE(ParseDigestHex(kMessageDigest, &expected));
    attribute.insert(attribute.end(), expected.begin(), expected.end());
    ASSERT_TRUE(ReadMessageDigest(attribute.data(), attribute.size(), &digest));
    EXPECT_EQ(digest, expected);
    for (size_t cut = 0; cut < attribute.size(); ++cut) EXPECT_FALSE(ReadMessageDigest(attribute.data(), cut, &digest));
    attribute.push_back(0);
    EXPECT_FALSE(ReadMessageDigest(attribute.data(), attribute.size(), &digest));
}

TEST(ImageDigest, OtherContentOtherAlgorithmsAndDamageAreRefused)
{
    ImageDigest image;
    // The last bytes of the two object identifiers: the content's type and the digest's algorithm.
    const uint8_t peImage[] = {0x37, 0x02, 0x01, 0x0F}, sha256[] = {0x03, 0x04, 0x02, 0x01};
    const size_t typeEnd = std::search(kIndirect.begin(), kIndirect.end(), peImage, peImage + 4) - kIndirect.begin() + 3;
    const size_t algorithmEnd = std::search(kIndirect.begin(), kIndirect.end(), sha256, sha256 + 4) - kIndirect.begin() + 3;
    ASSERT_LT(algorithmEnd, kIndirect.size());
    Bytes other = kIndirect;
    other[typeEnd] = 0x1E;  // 1.3.6.1.4.1.311.2.1.30, another kind of content than a PE image
    EXPECT_FALSE(ReadImageDigest(other.data(), other.size(), &image));
    other = kIndirect;
    other[algorithmEnd] = 0x03;  // SHA-512's identifier, with a 32-byte digest
    EXPECT_FALSE(ReadImageDigest(other.data(), other.size(), &image));
    other = kIndirect;
    other.push_back(0);
    EXPECT_FALSE(ReadImageDigest(other.data(), other.size(), &image)) << "a byte after it";
    for (size_t cut = 0; cut < kIndirect.size(); ++cut) EXPECT_FALSE(ReadImageDigest(kIndirect.data(), cut, &image)) << cut;
    for (size_t at = 0; at < kIndirect.size(); ++at) {
        for (int bit = 0; bit < 8; ++bit) {
            Bytes damaged = kIndirect;
            damaged[at] = static_cast<uint8_t>(damaged[at] ^ (1 << bit));
            if (ReadImageDigest(damaged.data(), damaged.size(), &image)) {
                EXPECT_LE(image.signedOffset + image.signedSize, damaged.size()) << at << " " << bit;
            }
        }
    }
}

}  // namespace
