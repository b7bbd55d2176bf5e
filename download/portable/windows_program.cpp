#include "download/portable/windows_program.h"

bool PeSignatureOffset(const unsigned char* head, size_t headSize, uint64_t fileSize, uint64_t* offset)
{
    if (headSize < kDosHeaderSize || fileSize < kDosHeaderSize) return false;
    if (head[0] != 'M' || head[1] != 'Z') return false;
    const uint64_t at = static_cast<uint64_t>(head[0x3C]) | static_cast<uint64_t>(head[0x3D]) << 8 |
                        static_cast<uint64_t>(head[0x3E]) << 16 | static_cast<uint64_t>(head[0x3F]) << 24;
    if (at > fileSize || fileSize - at < kPeSignatureSize) return false;
    *offset = at;
    return true;
}

bool IsPeSignature(const unsigned char* bytes, size_t size)
{
    return size >= kPeSignatureSize && bytes[0] == 'P' && bytes[1] == 'E' && bytes[2] == 0 && bytes[3] == 0;
}
