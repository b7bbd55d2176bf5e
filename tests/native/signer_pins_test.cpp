#include <gtest/gtest.h>

#include <string>

#include "support/portable/signer_pins.h"

namespace {

// Two certificates of one P-256 key, made with openssl: a version 3 certificate with extensions,
// and a version 1 certificate (without the optional [0] version). The expected pin is openssl's
// own figure: `openssl x509 -pubkey -noout | openssl pkey -pubin -outform DER | sha256sum`.
const std::string kVersion3(
    "\x30\x82\x01\x7d\x30\x82\x01\x23\xa0\x03\x02\x01\x02\x02\x14\x1d\x60\xf9\xdf\x81\x76\xf3\x9c\x08"
    "\x78\x73\x87\xcb\x28\xeb\xb5\xed\xf0\xda\x8c\x30\x0a\x06\x08\x2a\x86\x48\xce\x3d\x04\x03\x02\x30"
    "\x13\x31\x11\x30\x0f\x06\x03\x55\x04\x03\x0c\x08\x50\x69\x6e\x20\x54\x65\x73\x74\x30\x20\x17\x0d"
    "\x32\x36\x31\x32\x30\x39\x31\x34\x35\x36\x34\x31\x5a\x18\x0f\x32\x31\x32\x36\x31\x31\x31\x35\x31"
    "\x34\x35\x36\x34\x31\x5a\x30\x13\x31\x11\x30\x0f\x06\x03\x55\x04\x03\x0c\x08\x50\x69\x6e\x20\x54"
    "\x65\x73\x74\x30\x59\x30\x13\x06\x07\x2a\x86\x48\xce\x3d\x02\x01\x06\x08\x2a\x86\x48\xce\x3d\x03"
    "\x01\x07\x03\x42\x00\x04\x45\xf2\x68\x82\xaa\xa2\x44\x60\x21\x42\x5d\x0c\xd6\xdf\xa4\xa9\xf8\x63"
    "\x34\x2c\xc1\xcf\x67\xc5\x7f\x0f\x3d\x0f\x9c\x05\xa9\x84\x65\x83\xf5\x10\x56\xe0\x1f\x16\x45\x2f"
    "\x3c\xcd\x54\xc4\xc7\x33\xd2\x79\x02\xa2\x31\x3a\x25\x93\x99\x50\x9e\xf9\xdd\x46\x82\x89\xa3\x53"
    "\x30\x51\x30\x1d\x06\x03\x55\x1d\x0e\x04\x16\x04\x14\xcd\x2e\x52\xee\x11\x76\x55\xbc\xd2\xf1\x89"
    "\xba\x50\x85\xbe\x6d\x6a\xdc\x86\x01\x30\x1f\x06\x03\x55\x1d\x23\x04\x18\x30\x16\x80\x14\xcd\x2e"
    "\x52\xee\x11\x76\x55\xbc\xd2\xf1\x89\xba\x50\x85\xbe\x6d\x6a\xdc\x86\x01\x30\x0f\x06\x03\x55\x1d"
    "\x13\x01\x01\xff\x04\x05\x30\x03\x01\x01\xff\x30\x0a\x06\x08\x2a\x86\x48\xce\x3d\x04\x03\x02\x03"
    "\x48\x00\x30\x45\x02\x20\x39\xa1\x64\x32\x59\xae\xd7\xa0\x70\x69\x96\xcf\x73\x88\x34\xa3\xc6\x66"
    "\x8a\xef\xf0\x6d\x90\x76\xa4\xb0\xb6\x9b\xac\x9e\xed\x14\x02\x21\x00\xf5\xbc\x57\xf9\xba\xc5\xa1"
    "\x90\x3a\x15\x47\xfb\x62\x48\xf7\x90\xee\x45\xdb\xc0\xe6\x6f\x03\x04\xd9\x47\x4a\x76\xab\x62\x0d"
    "\x05",
    385);
const std::string kVersion1(
    "\x30\x82\x01\x29\x30\x81\xcf\x02\x14\x0b\x7a\x75\x06\xc8\x49\x35\x2e\x9c\x1b\xc1\x73\xd4\x62\x1f"
    "\x34\x03\xd5\x2e\xa5\x30\x0a\x06\x08\x2a\x86\x48\xce\x3d\x04\x03\x02\x30\x16\x31\x14\x30\x12\x06"
    "\x03\x55\x04\x03\x0c\x0b\x50\x69\x6e\x20\x54\x65\x73\x74\x20\x76\x31\x30\x20\x17\x0d\x32\x36\x31"
    "\x32\x30\x39\x31\x34\x35\x36\x34\x32\x5a\x18\x0f\x32\x31\x32\x36\x31\x31\x31\x35\x31\x34\x35\x36"
    "\x34\x32\x5a\x30\x16\x31\x14\x30\x12\x06\x03\x55\x04\x03\x0c\x0b\x50\x69\x6e\x20\x54\x65\x73\x74"
    "\x20\x76\x31\x30\x59\x30\x13\x06\x07\x2a\x86\x48\xce\x3d\x02\x01\x06\x08\x2a\x86\x48\xce\x3d\x03"
    "\x01\x07\x03\x42\x00\x04\x45\xf2\x68\x82\xaa\xa2\x44\x60\x21\x42\x5d\x0c\xd6\xdf\xa4\xa9\xf8\x63"
    "\x34\x2c\xc1\xcf\x67\xc5\x7f\x0f\x3d\x0f\x9c\x05\xa9\x84\x65\x83\xf5\x10\x56\xe0\x1f\x16\x45\x2f"
    "\x3c\xcd\x54\xc4\xc7\x33\xd2\x79\x02\xa2\x31\x3a\x25\x93\x99\x50\x9e\xf9\xdd\x46\x82\x89\x30\x0a"
    "\x06\x08\x2a\x86\x48\xce\x3d\x04\x03\x02\x03\x49\x00\x30\x46\x02\x21\x00\xc1\xad\x6b\xc7\x98\x29"
    "\x00\xc0\x0e\xce\xad\x86\x70\xa9\xc8\x12\xc3\x43\x9e\xea\x5f\x3d\x62\xb2\x9b\x53\x7a\xdb\x7d\xc8"
    "\xf2\xc0\x02\x21\x00\xf6\x44\x3e\xce\x1a\xaf\xe6\xd3\x91\x70\x09\x8d\x1e\x09\xb1\x3d\x3f\xdf\x82"
    "\x7c\x92\x1c\xec\x52\xcd\x4d\x5d\xda\x0a\x26\x11\x1c",
    301);
const char kPin[] = "234a18bf6dff86fdbd7959cb1701bcfa2698640f1572b4939e4237d03e71b984";
const char kOther[] = "E3B0C44298FC1C149AFBF4C8996FB92427AE41E4649B934CA495991B7852B855";

const uint8_t* Bytes(const std::string& text) { return reinterpret_cast<const uint8_t*>(text.data()); }

std::string Hex(const SignerPins& pins)
{
    std::string text;
    for (const Sha256::Digest& pin : pins) text += (text.empty() ? "" : ",") + DigestToHex(pin);
    return text;
}

TEST(SignerPins, OneOrMoreDigestsOfEitherCaseWithSpaceAroundEach)
{
    SignerPins pins;
    ASSERT_TRUE(ParseSignerPins(kPin, &pins));
    EXPECT_EQ(Hex(pins), kPin);
    ASSERT_TRUE(ParseSignerPins(std::string(" ") + kOther + " ,\t" + kPin + "\r\n", &pins));
    EXPECT_EQ(Hex(pins), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855," + std::string(kPin));
    // Blank names no signer: the package is not checked, as without the field.
    for (const char* blank : {"", " ", "\r\n\t"}) {
        EXPECT_TRUE(ParseSignerPins(blank, &pins)) << blank;
        EXPECT_TRUE(pins.empty()) << blank;
    }
}

TEST(SignerPins, AnythingElseIsMalformedAndLeavesNoPins)
{
    const std::string pin = kPin;
    const std::string bad[] = {pin.substr(0, 63), pin + "0", "g" + pin.substr(1), pin + ",", "," + pin,
                               pin + ",," + kOther, pin + " " + kOther, pin + ";" + kOther,
                               "sha256:" + pin, pin.substr(0, 32) + " " + pin.substr(32), ","};
    for (const std::string& text : bad) {
        SignerPins pins(1);
        EXPECT_FALSE(ParseSignerPins(text, &pins)) << text;
        EXPECT_TRUE(pins.empty()) << text;
    }
}

TEST(SignerPins, PinIsTheDigestOfTheSubjectPublicKeyInfoWithOrWithoutVersion)
{
    size_t offset = 0, length = 0;
    ASSERT_TRUE(FindSubjectPublicKeyInfo(Bytes(kVersion3), kVersion3.size(), &offset, &length));
    EXPECT_EQ(offset, 123u);
    EXPECT_EQ(length, 91u);  // a P-256 key's SubjectPublicKeyInfo, tag and length included
    Sha256::Digest v3{}, v1{};
    ASSERT_TRUE(SignerPinOf(Bytes(kVersion3), kVersion3.size(), &v3));
    ASSERT_TRUE(SignerPinOf(Bytes(kVersion1), kVersion1.size(), &v1));
    EXPECT_EQ(DigestToHex(v3), kPin);
    EXPECT_EQ(DigestToHex(v1), kPin);

    SignerPins pins;
    ASSERT_TRUE(ParseSignerPins(std::string(kOther) + "," + kPin, &pins));
    EXPECT_TRUE(IsPinned(pins, v3));
    ASSERT_TRUE(ParseSignerPins(kOther, &pins));
    EXPECT_FALSE(IsPinned(pins, v3));
    EXPECT_FALSE(IsPinned(SignerPins(), v3));
}

// The certificates come from a downloaded file. Whatever their bytes, the reader stays inside
// them (the sanitizers watch) and either refuses or names a range within them.
TEST(SignerPins, DamagedCertificatesAreRefusedOrReadWithinTheirBytes)
{
    size_t offset = 0, length = 0;
    for (const std::string* der : {&kVersion3, &kVersion1}) {
        for (size_t size = 0; size < der->size(); ++size) {
            // Cut anywhere before the key's end, the outer lengths overrun the bytes.
            EXPECT_FALSE(FindSubjectPublicKeyInfo(Bytes(*der), size, &offset, &length)) << size;
        }
        for (size_t at = 0; at < 140; ++at) {
            for (int bit = 0; bit < 8; ++bit) {
                std::string damaged = *der;
                damaged[at] = static_cast<char>(damaged[at] ^ (1 << bit));
                if (FindSubjectPublicKeyInfo(Bytes(damaged), damaged.size(), &offset, &length)) {
                    EXPECT_LE(offset + length, damaged.size()) << at << " " << bit;
                }
            }
        }
    }
    // Length forms DER does not allow, and lengths beyond any buffer.
    const std::string forms[] = {
        std::string("\x30\x80\x30\x00\x00\x00", 6),             // indefinite
        std::string("\x30\x81\x05\x30\x03\x02\x01\x01", 8),   // long form for a short length
        std::string("\x30\x82\x00\x90", 4) + std::string(0x90, '\0'),  // a leading zero byte
        std::string("\x30\x84\xff\xff\xff\xff\x30\x00", 8),   // four gigabytes
        std::string("\x30\x85\x01\x00\x00\x00\x00", 7),        // five length bytes
        std::string("\x30\x02\x1f\x00", 4),                   // a multi-byte tag
        std::string("\x30", 1),
    };
    for (const std::string& der : forms) EXPECT_FALSE(FindSubjectPublicKeyInfo(Bytes(der), der.size(), &offset, &length));
    EXPECT_FALSE(FindSubjectPublicKeyInfo(nullptr, 0, &offset, &length));
}

}  // namespace
