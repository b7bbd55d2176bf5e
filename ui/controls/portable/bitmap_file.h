#pragma once
#include <cstddef>
#include <cstdint>

// Where the parts of a ".bmp" file held in memory lie, for a skin image carried inside the exe:
// the header that a device-independent bitmap is made from, its colour table, and its pixels.
struct BitmapFileLayout {
    size_t infoOffset = 0;   // BITMAPINFOHEADER (or a later, longer header), then the colours
    size_t pixelOffset = 0;
    size_t pixelBytes = 0;   // rows padded to 4 bytes, times the rows
    int32_t width = 0;
    int32_t height = 0;      // as written: negative for a top-down image
    uint16_t bitCount = 0;
};

// Only uncompressed images of 1, 4, 8, 24 or 32 bits per pixel, at most 8192 pixels each way,
// whose header, colours and pixels all lie inside the `size` bytes. False for anything else.
bool ReadBitmapFileLayout(const unsigned char* bytes, size_t size, BitmapFileLayout* layout);
