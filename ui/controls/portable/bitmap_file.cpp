#include "ui/controls/portable/bitmap_file.h"

namespace {

uint32_t Little(const unsigned char* at, int width)
{
    uint32_t value = 0;
    for (int i = width; i-- > 0;) value = (value << 8) | at[i];
    return value;
}

constexpr size_t kFileHeaderSize = 14;
constexpr uint32_t kInfoHeaderSize = 40;
constexpr int32_t kMaxSide = 8192;

}  // namespace

bool ReadBitmapFileLayout(const unsigned char* bytes, size_t size, BitmapFileLayout* layout)
{
    if (!bytes || size < kFileHeaderSize + kInfoHeaderSize || bytes[0] != 'B' || bytes[1] != 'M') return false;
    const unsigned char* info = bytes + kFileHeaderSize;
    const uint32_t headerSize = Little(info, 4);
    const int32_t width = static_cast<int32_t>(Little(info + 4, 4));
    const int32_t height = static_cast<int32_t>(Little(info + 8, 4));
    const uint32_t planes = Little(info + 12, 2);
    const uint32_t bitCount = Little(info + 14, 2);
    const uint32_t compression = Little(info + 16, 4);
    uint32_t colours = Little(info + 32, 4);
    const uint32_t pixelOffset = Little(bytes + 10, 4);

    if (headerSize < kInfoHeaderSize || headerSize > size - kFileHeaderSize) return false;
    if (planes != 1 || compression != 0) return false;
    if (bitCount != 1 && bitCount != 4 && bitCount != 8 && bitCount != 24 && bitCount != 32) return false;
    if (width < 1 || width > kMaxSide || height == 0 || height < -kMaxSide || height > kMaxSide) return false;
    if (bitCount <= 8) {
        const uint32_t most = 1u << bitCount;
        if (colours == 0) colours = most;
        if (colours > most) return false;
    } else if (colours > 256) {
        return false;
    }
    const uint64_t tableEnd = kFileHeaderSize + static_cast<uint64_t>(headerSize) + uint64_t{colours} * 4;
    if (pixelOffset < tableEnd || pixelOffset > size) return false;
    const uint64_t rows = static_cast<uint64_t>(height < 0 ? -static_cast<int64_t>(height) : height);
    const uint64_t stride = ((static_cast<uint64_t>(width) * bitCount + 31) / 32) * 4;
    const uint64_t pixelBytes = stride * rows;
    if (pixelBytes > size - pixelOffset) return false;

    layout->infoOffset = kFileHeaderSize;
    layout->pixelOffset = pixelOffset;
    layout->pixelBytes = static_cast<size_t>(pixelBytes);
    layout->width = width;
    layout->height = height;
    layout->bitCount = static_cast<uint16_t>(bitCount);
    return true;
}
