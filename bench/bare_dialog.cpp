// The reference for start-up time: a dialog program built the same way as the installer, doing
// nothing but showing a borderless dialog of the same size.
#include <windows.h>

namespace {
INT_PTR CALLBACK Proc(HWND hwnd, UINT msg, WPARAM, LPARAM)
{
    if (msg == WM_CLOSE) { EndDialog(hwnd, 0); return TRUE; }
    return msg == WM_INITDIALOG;
}
}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int)
{
    struct {
        DLGTEMPLATE tmpl;
        WORD menu, cls, title;
    } t{};
    t.tmpl.style = WS_POPUP | WS_VISIBLE | DS_CENTER;
    t.tmpl.cx = 305;
    t.tmpl.cy = 186;
    return static_cast<int>(DialogBoxIndirectParamW(instance, &t.tmpl, nullptr, Proc, 0));
}
