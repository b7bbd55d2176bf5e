#include "download/retry_pause.h"

#include "download/shared_state.h"

namespace {
RetryPauseHook g_hook = nullptr;
}

void SetRetryPauseHookForTesting(RetryPauseHook hook) { g_hook = hook; }

bool PauseBeforeRetry(DWORD milliseconds)
{
    if (g_hook) return g_hook(milliseconds);
    const DWORD slice = 50;
    const ULONGLONG end = GetTickCount64() + milliseconds;
    for (;;) {
        if (AbortRequested.load()) return false;
        const ULONGLONG now = GetTickCount64();
        if (now >= end) return true;
        const ULONGLONG left = end - now;
        Sleep(left < slice ? static_cast<DWORD>(left) : slice);
    }
}
