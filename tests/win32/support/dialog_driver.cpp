#include "support/dialog_driver.h"

#include "framework/app.h"
#include "support/localized_text.h"
#include "support/scratch_folder.h"

#include <cstdio>
#include <cstdlib>
#include <cwchar>

namespace dialog_driver {
namespace {

bool IsOurDialog(HWND window)
{
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid != GetCurrentProcessId() || !IsWindowVisible(window)) return false;
    wchar_t cls[16] = {};
    GetClassNameW(window, cls, 16);
    return std::wcscmp(cls, L"#32770") == 0;
}

BOOL CALLBACK Collect(HWND window, LPARAM param)
{
    if (IsOurDialog(window)) reinterpret_cast<std::vector<HWND>*>(param)->push_back(window);
    return TRUE;
}

// The control that has the keyboard focus on the dialog's thread, when it belongs to the dialog.
HWND FocusIn(HWND dialog)
{
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    if (GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &info) && info.hwndFocus &&
        (info.hwndFocus == dialog || IsChild(dialog, info.hwndFocus)))
        return info.hwndFocus;
    return dialog;
}

void PostKey(HWND target, WPARAM key)
{
    const UINT scan = MapVirtualKeyW(static_cast<UINT>(key), MAPVK_VK_TO_VSC);
    PostMessageW(target, WM_KEYDOWN, key, 1 | (static_cast<LPARAM>(scan) << 16));
    PostMessageW(target, WM_KEYUP, key, 1 | (static_cast<LPARAM>(scan) << 16) | (3u << 30));
}

}  // namespace

std::vector<HWND> ProcessDialogs()
{
    std::vector<HWND> found;
    EnumWindows(Collect, reinterpret_cast<LPARAM>(&found));
    return found;
}

int SignatureControl(UINT templateId)
{
    switch (templateId) {
    case 102: return 1008;  // progress bar
    case 103: return 1007;  // proxy server edit
    case 104: return 1006;  // user name edit
    case 112: return 1029;  // link line
    case 117: return 1031;  // small headline
    default: return 0;
    }
}

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs)
{
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    for (;;) {
        if (condition()) return true;
        if (GetTickCount64() > end) return false;
        Sleep(10);
    }
}

HWND WaitForDialogWithControl(int controlId, DWORD timeoutMs, HWND exclude)
{
    HWND result = nullptr;
    WaitUntil(
        [&] {
            for (HWND w : ProcessDialogs()) {
                if (w != exclude && GetDlgItem(w, controlId)) {
                    result = w;
                    return true;
                }
            }
            return false;
        },
        timeoutMs);
    return result;
}

HWND WaitForDialog(UINT templateId, DWORD timeoutMs, HWND exclude)
{
    const int control = SignatureControl(templateId);
    return control ? WaitForDialogWithControl(control, timeoutMs, exclude) : nullptr;
}

bool WaitForClosed(HWND window, DWORD timeoutMs)
{
    return WaitUntil([&] { return !IsWindow(window) || !IsWindowVisible(window); }, timeoutMs);
}

std::wstring WindowText(HWND window)
{
    if (!window) return L"";
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_NORMAL, WaitLimitMs(), &length)) return L"";
    std::wstring text(length + 1, L'\0');
    DWORD_PTR copied = 0;
    SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(&text[0]), SMTO_NORMAL,
                        WaitLimitMs(), &copied);
    text.resize(copied);
    return text;
}

std::wstring ControlText(HWND dialog, int id) { return WindowText(GetDlgItem(dialog, id)); }

LOGFONTW ControlFont(HWND dialog, int id)
{
    LOGFONTW lf{};
    DWORD_PTR font = 0;
    SendMessageTimeoutW(GetDlgItem(dialog, id), WM_GETFONT, 0, 0, SMTO_NORMAL, WaitLimitMs(), &font);
    if (font) GetObjectW(reinterpret_cast<HFONT>(font), sizeof lf, &lf);
    return lf;
}

bool ControlVisible(HWND dialog, int id)
{
    HWND control = GetDlgItem(dialog, id);
    return control && (GetWindowLongPtrW(control, GWL_STYLE) & WS_VISIBLE);
}

RECT ControlRect(HWND dialog, int id)
{
    RECT r{};
    HWND control = GetDlgItem(dialog, id);
    if (!control) return r;
    GetWindowRect(control, &r);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

CtlColors QueryCtlColorStatic(HWND dialog, int id)
{
    CtlColors c;
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    ReleaseDC(nullptr, screen);
    // Start from values no table uses, so that an untouched DC shows.
    SetBkColor(dc, RGB(1, 2, 3));
    SetTextColor(dc, RGB(4, 5, 6));
    SetBkMode(dc, OPAQUE);
    DWORD_PTR brush = 0;
    SendMessageTimeoutW(dialog, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                        reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)), SMTO_NORMAL, WaitLimitMs(), &brush);
    c.brush = reinterpret_cast<HBRUSH>(brush);
    c.background = GetBkColor(dc);
    c.text = GetTextColor(dc);
    c.mode = GetBkMode(dc);
    LOGBRUSH lb{};
    if (c.brush && GetObjectW(c.brush, sizeof lb, &lb) == sizeof lb && lb.lbStyle == BS_SOLID)
        c.brushColour = lb.lbColor;
    DeleteDC(dc);
    return c;
}

void SetEditText(HWND dialog, int id, const std::wstring& text)
{
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(GetDlgItem(dialog, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()), SMTO_NORMAL,
                        WaitLimitMs(), &ignored);
}

void ClickButton(HWND dialog, int id)
{
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

void PressButton(HWND dialog, int id) { PostMessageW(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }

void ClickStatic(HWND dialog, int id)
{
    HWND control = GetDlgItem(dialog, id);
    PostMessageW(control, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 2));
    PostMessageW(control, WM_LBUTTONUP, 0, MAKELPARAM(2, 2));
}

void PressEnter(HWND dialog) { PostKey(FocusIn(dialog), VK_RETURN); }

void PressEscape(HWND dialog) { PostKey(FocusIn(dialog), VK_ESCAPE); }

void PressKeyIn(HWND dialog, int controlId, WPARAM key)
{
    HWND control = GetDlgItem(dialog, controlId);
    PostKey(control ? control : dialog, key);
}

void PostClose(HWND dialog) { PostMessageW(dialog, WM_CLOSE, 0, 0); }

void PostSystemClose(HWND dialog) { PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0); }

void MoveMouseOver(HWND window, int x, int y) { PostMessageW(window, WM_MOUSEMOVE, 0, MAKELPARAM(x, y)); }

namespace {
struct DriverThread {
    const std::function<bool()>* driver;
    bool ok = false;
};

DWORD WINAPI DriverMain(void* param)
{
    auto* t = static_cast<DriverThread*>(param);
    try {
        t->ok = (*t->driver)();
    } catch (...) {
        t->ok = false;
    }
    return 0;
}
}  // namespace

INT_PTR RunDriven(const std::function<INT_PTR()>& modal, const std::function<bool()>& driver, bool* driverOk)
{
    DriverThread t{&driver};
    HANDLE thread = CreateThread(nullptr, 0, DriverMain, &t, 0, nullptr);
    INT_PTR result = modal();
    if (thread) {
        // The driver may still be waiting for a window that never came; its own bound ends it.
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
    }
    if (driverOk) *driverOk = thread && t.ok;
    return result;
}

void RunFolderEnvironment::SetUp()
{
    ASSERT_TRUE(EnterRunFolder()) << "the run folder of the test tree is missing";
    AfxWinInit(GetModuleHandleW(nullptr), nullptr, nullptr, SW_SHOW);
}

std::wstring Text(const wchar_t* key) { return LocalizedText::Instance(L"en-GB")->GetText(key); }

bool EnterRunFolder()
{
    const std::wstring dir = BuildTreePath(L"run");
    if (dir.empty() || !SetCurrentDirectoryW(dir.c_str())) return false;
    return GetFileAttributesW(L"Resource-en-GB.txt") != INVALID_FILE_ATTRIBUTES;
}

bool SaveWindowBitmap(HWND window, const std::wstring& path)
{
    RECT r;
    if (!GetWindowRect(window, &r)) return false;
    const int w = r.right - r.left, h = r.bottom - r.top;
    if (w <= 0 || h <= 0) return false;
    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = h;  // bottom-up, as a BMP file stores it
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 24;
    void* bits = nullptr;
    HBITMAP dib = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool ok = false;
    if (dib) {
        HGDIOBJ old = SelectObject(mem, dib);
        BitBlt(mem, 0, 0, w, h, screen, r.left, r.top, SRCCOPY | CAPTUREBLT);
        GdiFlush();
        SelectObject(mem, old);
        const DWORD stride = ((static_cast<DWORD>(w) * 3 + 3) & ~3u);
        const DWORD size = stride * static_cast<DWORD>(h);
        BITMAPFILEHEADER fh{};
        fh.bfType = 0x4D42;
        fh.bfOffBits = sizeof fh + sizeof bi.bmiHeader;
        fh.bfSize = fh.bfOffBits + size;
        FILE* f = _wfopen(path.c_str(), L"wb");
        if (f) {
            ok = fwrite(&fh, sizeof fh, 1, f) == 1 && fwrite(&bi.bmiHeader, sizeof bi.bmiHeader, 1, f) == 1 &&
                 fwrite(bits, 1, size, f) == size;
            fclose(f);
        }
        DeleteObject(dib);
    }
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
    return ok;
}

std::string Narrow(const std::wstring& text)
{
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(size > 0 ? size - 1 : 0, '\0');
    if (size > 1) WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &out[0], size, nullptr, nullptr);
    return out;
}

}  // namespace dialog_driver
