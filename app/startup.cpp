#include "app/startup.h"

HINSTANCE ModuleInstance = nullptr;

OwnerWindow AttachOwnerWindow()
{
    // Lives until the process ends: dialogs may refer to it until the very end of the run. It was
    // attached, not created, so its destruction leaves the other program's window alone.
    static CWnd owner;
    if (!owner.GetSafeHwnd()) owner.Attach(GetForegroundWindow());
    return &owner;
}
