#pragma once
#include <cstddef>
#include <string>

// Skin image paths are held in buffers of the platform's path limit.
constexpr std::size_t kSkinPathBufferChars = 260;

// The skin image names, relative to the current directory.
extern const wchar_t kSkinSmallBackground[];       // "\Images\Small.bmp"
extern const wchar_t kSkinInstallBackground[];     // "\Images\InstallImage.bmp"
extern const wchar_t kSkinSmallestBackground[];    // "\Images\Smallest.bmp"
extern const wchar_t kSkinCloseNormal[];           // "\Images\CancelButton.bmp"
extern const wchar_t kSkinCloseMouseOver[];        // "\Images\MouseOver.bmp"
extern const wchar_t kSkinClosePressed[];          // "\Images\OnPress.bmp"
extern const wchar_t kSkinCloseDisabled[];         // "\Images\Disabled.bmp"

// `directory` followed by `imageName` (which starts with "\Images\"). Empty when the result
// would not fit a path buffer with its terminator: such a path is refused, and the image then
// counts as missing.
std::wstring BuildSkinImagePath(const std::wstring& directory, const std::wstring& imageName);
