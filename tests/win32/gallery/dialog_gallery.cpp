// Shows every installer dialog in turn, with the texts the installer gives it, and photographs
// each from the X display into a PNG (ImageMagick's import, started as a Unix child). Run by
// tools/dialog-screenshots.sh; not a test.
//   dialog_gallery.exe <run folder, Windows path> <output folder, Unix path> [language]
// The language picks the text table as the installer's configuration does (default en-GB).
#include <windows.h>

#include <cstdio>
#include <string>

#include "framework/app.h"
#include "support/dialog_driver.h"
#include "support/dialog_scenes.h"
#include "support/localized_text.h"
#include "support/process_start.h"

using namespace dialog_driver;

namespace {

std::wstring g_out;  // Unix path of the output folder
int g_failures = 0;

std::wstring DosPath(const std::wstring& unixPath)
{
    std::wstring path = L"Z:" + unixPath;
    for (wchar_t& c : path)
        if (c == L'/') c = L'\\';
    return path;
}

// Photographs the window's rectangle (a few pixels around it, to show its rounded corners).
void Shoot(HWND window, const wchar_t* name)
{
    if (!window) {
        std::fwprintf(stderr, L"%ls: no window\n", name);
        ++g_failures;
        return;
    }
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, WaitLimitMs(), &ignored);
    Sleep(400);  // Wine hands window surfaces to X shortly after painting
    RECT r{};
    GetWindowRect(window, &r);
    const int margin = 4;
    wchar_t crop[64];
    swprintf(crop, 64, L"%dx%d+%d+%d", r.right - r.left + 2 * margin, r.bottom - r.top + 2 * margin,
             r.left - margin > 0 ? r.left - margin : 0, r.top - margin > 0 ? r.top - margin : 0);
    const std::wstring shot = g_out + L"/" + name + L".png";
    DeleteFileW(DosPath(shot).c_str());
    const std::wstring command = L"/bin/sh -c \"import -window root -crop " + std::wstring(crop) + L" +repage '" +
                                 shot + L".part.png' && mv '" + shot + L".part.png' '" + shot + L"'\"";
    if (!StartProcess(command) ||
        !WaitUntil([&] { return GetFileAttributesW(DosPath(shot).c_str()) != INVALID_FILE_ATTRIBUTES; }, WaitLimitMs())) {
        std::fwprintf(stderr, L"%ls: no screenshot\n", name);
        ++g_failures;
        return;
    }
    std::fwprintf(stdout, L"%ls\n", shot.c_str());
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 3) {
        std::fwprintf(stderr, L"usage: dialog_gallery <run folder> <output folder> [language]\n");
        return 2;
    }
    if (!SetCurrentDirectoryW(argv[1])) {
        std::fwprintf(stderr, L"cannot enter %ls\n", argv[1]);
        return 2;
    }
    g_out = argv[2];
    AfxWinInit(GetModuleHandleW(nullptr), nullptr, nullptr, SW_SHOW);
    const std::wstring language = argc > 3 ? argv[3] : L"en-GB";
    if (LocalizedText::Instance(language)->GetLanguage() != language) {
        std::fwprintf(stderr, L"no text table for %ls in %ls\n", language.c_str(), argv[1]);
        return 2;
    }

    dialog_scenes::VisitEveryDialogState([](const dialog_scenes::Scene& scene) { Shoot(scene.window, scene.name); });
    return g_failures == 0 ? 0 : 1;
}
