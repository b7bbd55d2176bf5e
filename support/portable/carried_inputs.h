#pragma once
#include <cstdint>
#include <string>

// The inputs a release exe carries inside itself ("ConfigFile.txt", the text tables, the skin)
// are one cabinet file, packed by tools/release.py, each file compressed on its own (MSZIP), so
// that the platform's cabinet reader unpacks them and the exe needs no decompressor of its own.
namespace Carried {

// Large enough for the biggest skin image at 200 %, small enough that a damaged size cannot make
// the program ask for gigabytes.
constexpr uint32_t kMaxFileSize = 16u * 1024 * 1024;

// True when the name stored in the cabinet is `wanted`: ASCII case ignored, '/' and '\' alike,
// a leading separator of `wanted` ignored. A name with a character outside printable ASCII on
// either side never matches.
bool IsName(const char* stored, const std::wstring& wanted);

}  // namespace Carried
