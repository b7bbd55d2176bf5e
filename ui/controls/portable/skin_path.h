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

// The name of `imageName` in the set drawn for `setPercent` % display scale: the design's names
// hold the 100 % set, and each other set lies in a subfolder of "Images" named by its percentage
// ("\Images\150\Small.bmp"). The name itself for 100, for a name outside "\Images\", and for
// a percentage that is not positive.
std::wstring SkinImageNameForSet(const std::wstring& imageName, int setPercent);
