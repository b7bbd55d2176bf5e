#include "ui/controls/portable/skin_path.h"

#include "support/portable/decimal.h"

const wchar_t kSkinSmallBackground[] = L"\\Images\\Small.bmp";
const wchar_t kSkinInstallBackground[] = L"\\Images\\InstallImage.bmp";
const wchar_t kSkinSmallestBackground[] = L"\\Images\\Smallest.bmp";
const wchar_t kSkinCloseNormal[] = L"\\Images\\CancelButton.bmp";
const wchar_t kSkinCloseMouseOver[] = L"\\Images\\MouseOver.bmp";
const wchar_t kSkinClosePressed[] = L"\\Images\\OnPress.bmp";
const wchar_t kSkinCloseDisabled[] = L"\\Images\\Disabled.bmp";

std::wstring BuildSkinImagePath(const std::wstring& directory, const std::wstring& imageName)
{
    if (directory.empty() || directory.size() + imageName.size() >= kSkinPathBufferChars) return std::wstring();
    return directory + imageName;
}

std::wstring SkinImageNameForSet(const std::wstring& imageName, int setPercent)
{
    static const wchar_t kFolder[] = L"\\Images\\";
    const size_t folderLength = sizeof(kFolder) / sizeof(kFolder[0]) - 1;
    if (setPercent == 100 || setPercent <= 0 || imageName.compare(0, folderLength, kFolder) != 0) return imageName;
    std::wstring name = imageName;
    name.insert(folderLength, WideDecimal(setPercent) + L"\\");
    return name;
}
