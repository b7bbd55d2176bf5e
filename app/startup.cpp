#include "app/startup.h"

#include <commctrl.h>

HINSTANCE ModuleInstance = nullptr;

namespace {
HINSTANCE g_resourceInstance = nullptr;
}  // namespace

void SetResourceInstance(HINSTANCE instance) { g_resourceInstance = instance; }

bool InitWindowLayer(HINSTANCE, LPWSTR, int)
{
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof(controls);
    controls.dwICC = ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES;
    return InitCommonControlsEx(&controls) != FALSE;
}

// The foreground window belongs to some other program: it is only referred to, never destroyed.
OwnerWindow AttachOwnerWindow() { return GetForegroundWindow(); }
