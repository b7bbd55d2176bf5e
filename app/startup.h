#pragma once
#include <windows.h>

// Start-up items that live for the whole run.

// The instance handle given to the entry.
extern HINSTANCE ModuleInstance;

// The window that owns the message dialogs: the window that was in the foreground when the
// program started. Kept behind this alias so that it can become the framework's window object.
using OwnerWindow = HWND;

// Makes dialog templates and other resources load from `instance`.
void SetResourceInstance(HINSTANCE instance);

// Initialises the window layer (common controls); false when that fails.
bool InitWindowLayer(HINSTANCE instance, LPWSTR commandLine, int showCommand);

// Attaches the owner window to the current foreground window.
OwnerWindow AttachOwnerWindow();
