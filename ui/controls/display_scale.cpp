#include "ui/controls/display_scale.h"

#include <atomic>

#include "framework/gdi.h"
#include "support/installer_log.h"
#include "support/system_library.h"
#include "ui/controls/skin_images.h"

namespace {

// Newer user32 calls: Wine 8 and Windows before 10 lack them, and an import of a missing one
// would stop the program from starting.
template <class Function>
Function User32Function(const char* name)
{
    HMODULE user32 = ::GetModuleHandleW(L"user32.dll");
    return user32 ? reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(user32, name))) : nullptr;
}

UINT SystemDpi()
{
    HDC screen = ::GetDC(nullptr);
    if (!screen) return kReferenceDpi;
    const int dpi = ::GetDeviceCaps(screen, LOGPIXELSX);
    ::ReleaseDC(nullptr, screen);
    return dpi > 0 ? static_cast<UINT>(dpi) : kReferenceDpi;
}

SIZE BitmapSize(HBITMAP bitmap)
{
    BITMAP info{};
    if (!bitmap || !::GetObjectW(bitmap, sizeof(info), &info)) return SIZE{0, 0};
    return SIZE{info.bmWidth, info.bmHeight < 0 ? -info.bmHeight : info.bmHeight};
}

// Each set that is missing is logged the first time it is looked for, whatever the image.
std::atomic<unsigned> g_missingSetsLogged{0};

void LogMissingSet(int setPercent)
{
    unsigned bit = 0;
    while (bit < kSkinSetCount && kSkinSetPercents[bit] != setPercent) ++bit;
    if (g_missingSetsLogged.fetch_or(1u << bit) & (1u << bit)) return;
    char line[] = "Skin set 000% missing..falling back";
    line[9] = static_cast<char>('0' + setPercent / 100 % 10);
    line[10] = static_cast<char>('0' + setPercent / 10 % 10);
    line[11] = static_cast<char>('0' + setPercent % 10);
    Log(line);
}

}  // namespace

namespace {
DpiQueries SystemQueries()
{
    DpiQueries queries;
    queries.forWindow = User32Function<DpiQueries::ForWindow>("GetDpiForWindow");
    // Windows 8.1 has per-monitor scales but not GetDpiForWindow; shcore.dll is not a known DLL,
    // so it is loaded from the system folder by its full path, and only where it is needed.
    if (!queries.forWindow) {
        if (HMODULE shcore = LoadSystemLibrary(L"shcore.dll"))
            queries.forMonitor = reinterpret_cast<DpiQueries::ForMonitor>(
                reinterpret_cast<void*>(::GetProcAddress(shcore, "GetDpiForMonitor")));
    }
    return queries;
}

const DpiQueries* g_testQueries = nullptr;

const DpiQueries& Queries()
{
    static const DpiQueries system = SystemQueries();
    return g_testQueries ? *g_testQueries : system;
}
}  // namespace

void SetDpiQueriesForTesting(const DpiQueries* queries) { g_testQueries = queries; }

UINT WindowDpi(HWND window)
{
    if (!window) return kReferenceDpi;
    const DpiQueries& queries = Queries();
    if (queries.forWindow) {
        const UINT dpi = queries.forWindow(window);
        if (dpi) return dpi;
    }
    if (queries.forMonitor) {
        // MDT_EFFECTIVE_DPI: the scale the user chose for the monitor the window is on.
        UINT x = 0, y = 0;
        HMONITOR monitor = ::MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST);
        if (monitor && SUCCEEDED(queries.forMonitor(monitor, 0, &x, &y)) && x) return x;
    }
    return SystemDpi();
}

UINT DialogManagerDpi(HWND dialog)
{
    if (!dialog) return kReferenceDpi;
    return Queries().forWindow ? WindowDpi(dialog) : SystemDpi();
}

void TakeOverDialogDpiChanges(HWND dialog)
{
    // DIALOG_DPI_CHANGE_BEHAVIORS: DDC_DISABLE_ALL.
    using SetDialogDpiChangeBehaviorFunction = BOOL(WINAPI*)(HWND, int, int);
    static const SetDialogDpiChangeBehaviorFunction setBehavior =
        User32Function<SetDialogDpiChangeBehaviorFunction>("SetDialogDpiChangeBehavior");
    constexpr int kDisableAll = 0x0001;
    if (setBehavior && dialog) setBehavior(dialog, kDisableAll, kDisableAll);
}

namespace {
// `source` in a new 24-bit DIB section of width x height: resampled with HALFTONE, or copied at
// its own size with its last column and row repeated into the rest.
HBITMAP ResizeBitmap(HBITMAP source, int width, int height, bool resample)
{
    const SIZE from = BitmapSize(source);
    if (from.cx <= 0 || from.cy <= 0 || width <= 0 || height <= 0) return nullptr;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* pixels = nullptr;
    CBitmap target(::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &pixels, nullptr, 0));
    CCompatibleDC sourceDC(nullptr);
    CCompatibleDC targetDC(nullptr);
    if (!target.GetSafeHandle() || !sourceDC.GetSafeHdc() || !targetDC.GetSafeHdc()) return nullptr;
    {
        CSelectObject sourceSelection(sourceDC, source);
        CSelectObject targetSelection(targetDC, target.GetSafeHandle());
        if (resample) {
            ::SetStretchBltMode(targetDC, HALFTONE);
            ::SetBrushOrgEx(targetDC, 0, 0, nullptr);  // as HALFTONE asks after the mode is set
            if (!::StretchBlt(targetDC, 0, 0, width, height, sourceDC, 0, 0, from.cx, from.cy, SRCCOPY)) return nullptr;
        } else {
            const int w = from.cx < width ? from.cx : width, h = from.cy < height ? from.cy : height;
            ::BitBlt(targetDC, 0, 0, w, h, sourceDC, 0, 0, SRCCOPY);
            if (width > w) ::StretchBlt(targetDC, w, 0, width - w, h, sourceDC, w - 1, 0, 1, h, SRCCOPY);
            if (height > h) ::StretchBlt(targetDC, 0, h, width, height - h, targetDC, 0, h - 1, width, 1, SRCCOPY);
        }
    }
    return target.Detach();
}
}  // namespace

HBITMAP ScaleBitmap(HBITMAP source, int width, int height) { return ResizeBitmap(source, width, height, true); }

HBITMAP ExtendBitmap(HBITMAP source, int width, int height) { return ResizeBitmap(source, width, height, false); }

HBITMAP LoadSkinImageForDpi(const wchar_t* imageName, UINT dpi, const SIZE* fit, int* setUsed)
{
    if (setUsed) *setUsed = 0;
    for (int set : SkinSetOrder(static_cast<int>(dpi)).percent) {
        CBitmap image(LoadSkinImage(imageName, set));
        if (!image.GetSafeHandle()) {
            LogMissingSet(set);
            continue;
        }
        if (setUsed) *setUsed = set;
        const SIZE own = BitmapSize(image);
        const SIZE wanted{ImageLengthForDpi(own.cx, set, static_cast<int>(dpi)),
                          ImageLengthForDpi(own.cy, set, static_cast<int>(dpi))};
        if (wanted.cx != own.cx || wanted.cy != own.cy) {
            // A set that cannot be scaled (out of memory) is shown at its own size rather than not at all.
            if (HBITMAP scaled = ScaleBitmap(image, wanted.cx, wanted.cy)) image.Attach(scaled);
        }
        // A set's sizes are rounded at its own scale, and a template may be a dialog unit wider
        // than the skin: an image up to one reference pixel short of the area is made to fill it.
        const SIZE now = BitmapSize(image);
        const int slack = ScaleToDpi(1, static_cast<int>(dpi));
        if (fit && (now.cx != fit->cx || now.cy != fit->cy) && now.cx <= fit->cx && now.cy <= fit->cy &&
            fit->cx - now.cx <= slack && fit->cy - now.cy <= slack) {
            if (HBITMAP extended = ExtendBitmap(image, fit->cx, fit->cy)) image.Attach(extended);
        }
        return image.Detach();
    }
    return nullptr;
}
