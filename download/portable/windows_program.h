#pragma once
#include <cstddef>
#include <cstdint>

// What marks a file as a Windows program, for every payload the installer starts: it begins with
// "MZ", the 32-bit little-endian offset at 0x3C lies inside the file, and the four bytes there
// are "PE\0\0". A login portal's HTML page, an error page or a cut-off file has none of this.

constexpr size_t kDosHeaderSize = 0x40;
constexpr size_t kPeSignatureSize = 4;

// From the file's first bytes (`head`, `headSize` of them) and its length: where its PE signature
// must stand. False when the file cannot hold a DOS header, does not begin with "MZ", or names a
// place that leaves no room inside the file for the signature.
bool PeSignatureOffset(const unsigned char* head, size_t headSize, uint64_t fileSize, uint64_t* offset);

// True when the bytes read at that offset are "PE\0\0".
bool IsPeSignature(const unsigned char* bytes, size_t size);
