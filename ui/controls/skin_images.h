#pragma once
#include <windows.h>

#include <string>

// The skin images, from the copy a release exe carries, else from the "Images" folder in the
// current directory. An exe that carries its skin never reads that folder.

// The file of `imageName` (one of the kSkin* names) below the current directory; empty when the
// path would not fit its 260-character buffer (the image then counts as missing).
std::wstring SkinImageFilePath(const std::wstring& imageName);

// `imageName` (one of the kSkin* names) in the set drawn for `setPercent` % display scale, as a
// device-independent bitmap that the caller owns; null when that set has no such image or it is
// not a usable bitmap. A carried image is unpacked once per run (a carried set that lacks it is
// asked once): every later call copies it from what was unpacked.
HBITMAP LoadSkinImage(const wchar_t* imageName, int setPercent = 100);
