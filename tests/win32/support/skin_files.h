#pragma once
#include <windows.h>
#include <functional>
#include <string>

// Writes a 24-bit bottom-up BMP file whose pixel (x, y) is colour(x, y).
bool WriteBitmapFile(const std::wstring& path, int width, int height,
                     const std::function<COLORREF(int x, int y)>& colour);

// A fresh folder below %TEMP% with an "Images" subfolder, made the current directory for the
// object's lifetime (the previous one is restored afterwards).
class ScratchFolder {
public:
    explicit ScratchFolder(const std::wstring& name);
    ~ScratchFolder();
    const std::wstring& Path() const { return m_path; }
    std::wstring Image(const std::wstring& fileName) const { return m_path + L"\\Images\\" + fileName; }

private:
    std::wstring m_path;
    std::wstring m_previous;
};
