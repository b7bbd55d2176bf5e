#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

// SHA-256 (FIPS 180-4), fed in pieces of any size. Used to check a downloaded package against
// the digest the configuration names before anything is started from it.
class Sha256 {
public:
    using Digest = std::array<uint8_t, 32>;

    Sha256();
    void Update(const void* data, size_t size);
    // The digest of everything fed so far. The object must not be fed again afterwards.
    Digest Finish();

    static Digest Of(const void* data, size_t size);

private:
    void Compress(const uint8_t* block);

    uint32_t m_state[8];
    uint8_t m_block[64];
    size_t m_blockUsed = 0;
    uint64_t m_totalBytes = 0;
};

// Lower-case hexadecimal form of a digest (64 characters).
std::string DigestToHex(const Sha256::Digest& digest);

// Reads exactly 64 hexadecimal digits (either case) into a digest; false for anything else.
bool ParseDigestHex(const std::string& text, Sha256::Digest* digest);
