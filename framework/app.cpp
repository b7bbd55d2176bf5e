#include "framework/app.h"

#include <commctrl.h>

namespace {
HINSTANCE g_instance = nullptr;
HINSTANCE g_resources = nullptr;
}  // namespace

BOOL AfxWinInit(HINSTANCE instance, HINSTANCE, LPWSTR, int)
{
    g_instance = instance;
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof(controls);
    controls.dwICC = ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES;
    return InitCommonControlsEx(&controls);
}

void AfxSetResourceHandle(HINSTANCE resources) { g_resources = resources; }

HINSTANCE AfxGetResourceHandle()
{
    return g_resources ? g_resources : AfxGetInstanceHandle();
}

HINSTANCE AfxGetInstanceHandle()
{
    return g_instance ? g_instance : GetModuleHandleW(nullptr);
}
