#pragma once
#include <atomic>
#include <cstdint>

class DependencyDialog;

// Process-wide state shared by the download thread, the progress dialog's thread and the
// install sequence.
extern std::atomic<DependencyDialog*> ProgressDialog;  // the live progress dialog, or null
extern std::atomic<bool> AbortRequested;               // the user asked to stop
extern uint32_t BytesOnDisk;                           // bytes of the current file on disk
extern uint32_t ContentLength;                         // full length of the current file
