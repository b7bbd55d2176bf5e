#pragma once
#include <atomic>

class DependencyDialog;

// Process-wide state shared by the download thread, the progress dialog's thread and the
// install sequence. It lives in the bottom layer because every layer touches it: the dialogs
// publish and raise it, the engine polls it, the install sequence reads it at the end.
extern std::atomic<DependencyDialog*> ProgressDialog;  // the live progress dialog, or null
extern std::atomic<bool> AbortRequested;               // the user asked to stop
