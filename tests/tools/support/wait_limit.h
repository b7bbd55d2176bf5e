#pragma once
// The one limit of every wait for a state in the test programs (the robot, the launcher, the
// in-process tests), the same as the end-to-end harness's WAIT_LIMIT: long enough for a machine
// doing twice the work of a loaded CI run. A slower machine sets TARVELO_TIMEOUT_SCALE (a
// positive number, 2 or 0.5, say), which every limit is multiplied by.
#include <windows.h>

#include <cstdlib>

namespace e2e {

constexpr DWORD kWaitLimitBaseMs = 120000;

inline double TimeoutScale()
{
    char value[32] = "";
    const DWORD length = GetEnvironmentVariableA("TARVELO_TIMEOUT_SCALE", value, sizeof value);
    if (length == 0 || length >= sizeof value) return 1.0;
    char* end = nullptr;
    const double scale = std::strtod(value, &end);
    // Not a positive number: no scale, rather than a limit of nothing or of forever.
    return end != value && *end == '\0' && scale > 0 && scale <= 100 ? scale : 1.0;
}

// `baseMs` scaled; a limit shorter than the usual one is the caller's to explain.
inline DWORD ScaledMs(DWORD baseMs) { return static_cast<DWORD>(baseMs * TimeoutScale()); }

inline DWORD WaitLimitMs() { return ScaledMs(kWaitLimitBaseMs); }

}  // namespace e2e
