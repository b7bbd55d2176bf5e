#include "ui/controls/skin_images.h"

#include <cstring>
#include <vector>

#include "support/carried_inputs.h"
#include "support/win32_handle.h"
#include "ui/controls/portable/bitmap_file.h"
#include "ui/controls/portable/skin_path.h"

namespace {

// A bitmap file carried inside the exe, made into a DIB section with the same pixels.
HBITMAP BitmapFromFileBytes(const std::vector<unsigned char>& bytes)
{
    BitmapFileLayout layout;
    if (!ReadBitmapFileLayout(bytes.data(), bytes.size(), &layout)) return nullptr;
    // The header and colours are copied out so that the platform reads them aligned.
    std::vector<DWORD> info((layout.pixelOffset - layout.infoOffset + sizeof(DWORD) - 1) / sizeof(DWORD));
    std::memcpy(info.data(), bytes.data() + layout.infoOffset, layout.pixelOffset - layout.infoOffset);
    void* pixels = nullptr;
    HBITMAP bitmap = CreateDIBSection(nullptr, reinterpret_cast<const BITMAPINFO*>(info.data()), DIB_RGB_COLORS,
                                      &pixels, nullptr, 0);
    if (!bitmap) return nullptr;
    if (!pixels) {
        DeleteObject(bitmap);
        return nullptr;
    }
    std::memcpy(pixels, bytes.data() + layout.pixelOffset, layout.pixelBytes);
    return bitmap;
}

// A release exe unpacks each skin image from its cabinet once per run, and remembers the images
// its cabinet lacks: a change of display scale (a move to another monitor, inside the user's drag)
// takes what was unpacked before. The cabinet cannot change while the exe runs. Only the sets
// the dialogs have asked for are kept.
struct CarriedImage {
    std::wstring name;
    bool found = false;
    std::vector<unsigned char> bytes;
    CarriedImage* next = nullptr;
};
StaticCriticalSection g_carriedImagesLock;
CarriedImage* g_carriedImages = nullptr;  // kept for the run

HBITMAP CarriedSkinImage(const std::wstring& name)
{
    StaticCriticalSectionLock lock(g_carriedImagesLock);
    const CarriedImage* image = g_carriedImages;
    while (image && image->name != name) image = image->next;
    if (!image) {
        auto* unpacked = new CarriedImage;
        unpacked->name = name;
        unpacked->found = ReadCarriedInput(name, &unpacked->bytes);
        unpacked->next = g_carriedImages;
        g_carriedImages = unpacked;
        image = unpacked;
    }
    return image->found ? BitmapFromFileBytes(image->bytes) : nullptr;
}

}  // namespace

std::wstring SkinImageFilePath(const std::wstring& imageName)
{
    wchar_t directory[kSkinPathBufferChars] = {};
    const DWORD length = GetCurrentDirectoryW(kSkinPathBufferChars, directory);
    if (length == 0 || length >= kSkinPathBufferChars) return std::wstring();  // did not fit
    return BuildSkinImagePath(std::wstring(directory, length), imageName);
}

HBITMAP LoadSkinImage(const wchar_t* imageName, int setPercent)
{
    try {
        const std::wstring name = SkinImageNameForSet(imageName, setPercent);
        if (CarriesInputs()) return CarriedSkinImage(name);
        const std::wstring path = SkinImageFilePath(name);
        if (path.empty()) return nullptr;
        return static_cast<HBITMAP>(
            LoadImageW(nullptr, path.c_str(), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION | LR_LOADFROMFILE));
    } catch (...) {
        return nullptr;  // out of memory: the image counts as missing
    }
}
