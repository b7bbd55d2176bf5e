#include <gtest/gtest.h>

#include <string>

#include "support/portable/sha256.h"

namespace {

std::string HexOf(const std::string& text) { return DigestToHex(Sha256::Of(text.data(), text.size())); }

// The published FIPS 180-2 / NIST example messages.
TEST(Sha256, PublishedVectors)
{
    EXPECT_EQ(HexOf(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(HexOf("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(HexOf("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    EXPECT_EQ(HexOf("abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmno"
                    "ijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu"),
              "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1");
    EXPECT_EQ(HexOf(std::string(1000000, 'a')),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

// Lengths at which the padding needs a block of its own, or just fits.
TEST(Sha256, PaddingBoundaries)
{
    EXPECT_EQ(HexOf(std::string(55, 'a')), "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318");
    EXPECT_EQ(HexOf(std::string(56, 'a')), "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a");
    EXPECT_EQ(HexOf(std::string(63, 'a')), "7d3e74a05d7db15bce4ad9ec0658ea98e3f06eeecf16b4c6fff2da457ddc2f34");
    EXPECT_EQ(HexOf(std::string(64, 'a')), "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb");
    EXPECT_EQ(HexOf(std::string(119, 'a')), "31eba51c313a5c08226adf18d4a359cfdfd8d2e816b13f4af952f7ea6584dcfb");
    EXPECT_EQ(HexOf(std::string(120, 'a')), "2f3d335432c70b580af0e8e1b3674a7c020d683aa5f73aaaedfdc55af904c21c");
}

// The million 'a' fed in uneven pieces, crossing block edges in every way, gives the same digest.
TEST(Sha256, PiecewiseUpdatesMatchOneShot)
{
    const std::string text(1000000, 'a');
    const size_t pieces[] = {0, 1, 63, 64, 65, 127, 1000, 4096, 7};
    Sha256 hash;
    size_t at = 0;
    for (size_t i = 0; at < text.size(); ++i) {
        size_t take = pieces[i % (sizeof(pieces) / sizeof(pieces[0]))];
        if (take > text.size() - at) take = text.size() - at;
        hash.Update(text.data() + at, take);
        at += take;
    }
    EXPECT_EQ(DigestToHex(hash.Finish()),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(Sha256, HexDigestsAreExactlySixtyFourHexDigitsOfEitherCase)
{
    const std::string lower = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
    Sha256::Digest digest{};
    ASSERT_TRUE(ParseDigestHex(lower, &digest));
    EXPECT_EQ(DigestToHex(digest), lower);
    std::string upper = lower;
    for (char& c : upper) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    ASSERT_TRUE(ParseDigestHex(upper, &digest));
    EXPECT_EQ(DigestToHex(digest), lower);

    const Sha256::Digest before = digest;
    EXPECT_FALSE(ParseDigestHex(lower.substr(0, 63), &digest));
    EXPECT_FALSE(ParseDigestHex(lower + "0", &digest));
    EXPECT_FALSE(ParseDigestHex("g" + lower.substr(1), &digest));
    EXPECT_FALSE(ParseDigestHex(lower.substr(0, 62) + " a", &digest));
    EXPECT_FALSE(ParseDigestHex("", &digest));
    EXPECT_EQ(digest, before);  // a refused text leaves the digest alone
}

}  // namespace
