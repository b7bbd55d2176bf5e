#pragma once
#include <windows.h>

#include "framework/wnd.h"

// Start-up items that live for the whole run.

// The instance handle given to the entry.
extern HINSTANCE ModuleInstance;

// The window object that owns the message dialogs.
using OwnerWindow = CWnd*;

// A window object attached to the window that is in the foreground now (none when no window
// is). It lives until the process ends and never destroys the window it refers to.
OwnerWindow AttachOwnerWindow();
