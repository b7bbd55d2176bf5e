#include "app/startup.h"

HINSTANCE ModuleInstance = nullptr;

OwnerWindow AttachOwnerWindow()
{
    // Deliberately never freed: dialogs may refer to it until the very end of the run.
    CWnd* owner = new CWnd();
    owner->Attach(GetForegroundWindow());
    return owner;
}
