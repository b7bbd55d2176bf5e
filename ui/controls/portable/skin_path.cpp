#include "ui/controls/portable/skin_path.h"

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
