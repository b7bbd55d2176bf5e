#pragma once
#include <windows.h>

// Waits `milliseconds` between download retries, waking within 100 ms when the user aborts.
// Returns false when the wait ended because of the abort.
bool PauseBeforeRetry(DWORD milliseconds);

// Test seam: while set, the hook replaces the wait (it gets the requested length).
using RetryPauseHook = bool (*)(DWORD milliseconds);
void SetRetryPauseHookForTesting(RetryPauseHook hook);
