#pragma once
#include <windows.h>

// Process start-up of the window layer: registers the common control classes the dialogs use and
// remembers the program instance. Returns FALSE when the common controls cannot be initialised.
BOOL AfxWinInit(HINSTANCE instance, HINSTANCE previous, LPWSTR commandLine, int show);

// Module that dialog templates and other resources are loaded from. Defaults to the exe's module.
void AfxSetResourceHandle(HINSTANCE resources);
HINSTANCE AfxGetResourceHandle();

// The program instance given to AfxWinInit, or the exe's module before that.
HINSTANCE AfxGetInstanceHandle();
